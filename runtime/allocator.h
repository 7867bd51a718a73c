// Process-wide allocator tuning for a program that loads and frees models of tens of megabytes.
#pragma once

namespace rv {

// Keeps freed model tables in the heap for the next load instead of returning them to the
// system: without it every load pays page faults on fresh memory (about half its time at 65,000
// quads). Call once at start, before any model is loaded.
void keepModelMemoryForReuse();

}  // namespace rv
