#include "formats/mqo/mqo.h"

namespace rv {

// Placeholder until the Mqo reader lands.
std::optional<FormatError> readMqo(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError{{}, 0, 0, "reading this format is not available yet"};
}

}  // namespace rv
