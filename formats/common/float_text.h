// Decimal text of a float for the text formats we write.
#pragma once

#include <cstddef>

namespace rv {

// Room `formatShortestFloat` needs.
inline constexpr std::size_t kFloatTextChars = 64;

// The shortest digits that read back as the same float, in fixed notation (older readers, Wine's
// .x reader among them, take no exponent) and always with a decimal point; values that are not
// finite become "0.0", which every reader takes. Returns the end of what was written.
char* formatShortestFloat(char* out, float v);

}  // namespace rv
