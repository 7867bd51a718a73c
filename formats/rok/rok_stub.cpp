#include "formats/rok/rok.h"

namespace rv {

// Placeholder until the Rok reader lands.
std::optional<FormatError> readRok(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

}  // namespace rv
