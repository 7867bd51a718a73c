#include "formats/obj/obj.h"

namespace rv {

std::optional<FormatError> readObj(std::span<const std::byte>, Model&, ReadContext&) {
    return FormatError::refusal("OBJ files cannot be read yet");
}

}  // namespace rv
