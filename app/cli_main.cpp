#include "app/cli.h"
#include "runtime/allocator.h"

int main(int argc, char** argv) {
    rv::restartWithHugePageHeap(argv);
    return rv::runCli(argc, argv);
}
