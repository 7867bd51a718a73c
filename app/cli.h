// The headless converter: `revizevoz-cli convert|info|render|thumbnail ...`.
#pragma once

namespace rv {

// Runs the command line; returns the exit status (0 all converted, 1 a file failed, 2 usage).
int runCli(int argc, char** argv);

}  // namespace rv
