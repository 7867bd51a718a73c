#include "app/cli.h"

int main(int argc, char** argv) { return rv::runCli(argc, argv); }
