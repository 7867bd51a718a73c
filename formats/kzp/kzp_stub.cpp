#include "formats/kzp/kzp.h"

namespace rv {

// Placeholder until the Kzp reader lands.
std::optional<FormatError> readKzp(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

std::optional<FormatError> writeKzp(Model&, WriteContext&) {
    return FormatError{{}, 0, 0, "writing this format is not available yet"};
}

}  // namespace rv
