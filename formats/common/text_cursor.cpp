#include "formats/common/text_cursor.h"

namespace rv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

template <typename T>
bool takeNumber(std::string_view& s, T& out) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    if (i < s.size() && s[i] == '+')
        ++i;
    const char* first = s.data() + i;
    const char* last = s.data() + s.size();
    T value{};
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr == first)
        return false;
    out = value;
    s.remove_prefix(std::size_t(ptr - s.data()));
    return true;
}

template <typename T>
bool parseWhole(std::string_view s, T& out) {
    s = trimBlanks(s);
    if (s.empty())
        return false;
    T value{};
    if (!takeNumber(s, value) || !s.empty())
        return false;
    out = value;
    return true;
}

}  // namespace

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool parseFloat(std::string_view s, float& out) { return parseWhole(s, out); }
bool parseDouble(std::string_view s, double& out) { return parseWhole(s, out); }
bool parseInt(std::string_view s, std::int32_t& out) { return parseWhole(s, out); }
bool takeFloat(std::string_view& s, float& out) { return takeNumber(s, out); }
bool takeInt(std::string_view& s, std::int32_t& out) { return takeNumber(s, out); }

}  // namespace rv
