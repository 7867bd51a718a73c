#include "formats/x/x.h"

namespace rv {

// Placeholder until the X reader lands.
std::optional<FormatError> readX(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

std::optional<FormatError> writeX(Model&, WriteContext&) {
    return FormatError{{}, 0, 0, "writing this format is not available yet"};
}

}  // namespace rv
