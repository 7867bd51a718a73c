#include "formats/lwo/lwo.h"

namespace rv {

// Placeholder until the Lwo reader lands.
std::optional<FormatError> readLwo(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

std::optional<FormatError> writeLwo(Model&, WriteContext&) {
    return FormatError{{}, 0, 0, "writing this format is not available yet"};
}

}  // namespace rv
