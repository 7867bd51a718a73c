#include "formats/common/float_text.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace rv {

char* formatShortestFloat(char* out, float v) {
    if (!std::isfinite(v)) {
        std::memcpy(out, "0.0", 3);
        return out + 3;
    }
    char* end = std::to_chars(out, out + kFloatTextChars - 2, v, std::chars_format::fixed).ptr;
    if (!std::memchr(out, '.', std::size_t(end - out))) {
        end[0] = '.';
        end[1] = '0';
        end += 2;
    }
    return end;
}

}  // namespace rv
