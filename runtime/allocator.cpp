#include "runtime/allocator.h"

#include <malloc.h>

namespace rv {

void keepModelMemoryForReuse() {
    // Tables up to 32 MB (glibc's largest heap threshold) come from the heap and stay there.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
}

}  // namespace rv
