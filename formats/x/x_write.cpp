#include "formats/x/x.h"

namespace rv {

std::optional<FormatError> writeX(Model&, WriteContext&) {
    return FormatError{{}, 0, 0, "writing this format is not available yet"};
}

}  // namespace rv
