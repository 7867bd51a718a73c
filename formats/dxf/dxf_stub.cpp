#include "formats/dxf/dxf.h"

namespace rv {

// Placeholder until the Dxf reader lands.
std::optional<FormatError> readDxf(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

}  // namespace rv
