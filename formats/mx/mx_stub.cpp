#include "formats/mx/mx.h"

namespace rv {

// Placeholder until the Mx reader lands.
std::optional<FormatError> readMx(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

std::optional<FormatError> writeMx(Model&, WriteContext&) {
    return FormatError{{}, 0, 0, "writing this format is not available yet"};
}

}  // namespace rv
