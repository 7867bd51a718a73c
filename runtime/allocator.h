// Process-wide allocator tuning for a program that loads and frees models of tens of megabytes.
#pragma once

namespace rv {

// Keeps freed model tables in the heap for the next load instead of returning them to the
// system: without it every load pays page faults on fresh memory (about half its time at 65,000
// quads). Call once at start, before any model is loaded.
void keepModelMemoryForReuse();

// Starts the program again, once, with glibc asked to put the heap on transparent huge pages
// (GLIBC_TUNABLES glibc.malloc.hugetlb=1) where the kernel gives them only on request. Models and
// the preview's GL buffers are tens of megabytes of fresh memory, taken a page at a time; on a
// virtual machine each 4 KB fault is dear. Returns, doing nothing, where the kernel gives huge
// pages anyway or none, where the variable already names the setting (the user's choice, or the
// restarted program) and when the restart fails. Call first thing in main, with main's argv.
void restartWithHugePageHeap(char** argv);
// Whether restartWithHugePageHeap would start the program again now.
bool heapRestartWanted();

}  // namespace rv
