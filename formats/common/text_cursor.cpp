#include "formats/common/text_cursor.h"

#include <climits>

namespace rv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Where the digits of a leading number start: past white space and a '+' (std::from_chars takes
// only '-'). npos for "+-1" and "++1", which C reads as no number either.
std::size_t numberStart(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    if (i < s.size() && s[i] == '+') {
        if (i + 1 < s.size() && (s[i + 1] == '-' || s[i + 1] == '+'))
            return std::string_view::npos;
        ++i;
    }
    return i;
}

// For a decimal number that std::from_chars found out of range: true when it lies below the
// range (too small), false above. Compares the power of ten of its first significant digit,
// which the digits give exactly however many there are.
bool belowRange(std::string_view number) {
    std::size_t i = !number.empty() && number[0] == '-' ? 1 : 0;
    std::int64_t order = -1;
    bool significant = false;
    for (; i < number.size() && isDigit(number[i]); ++i) {
        significant |= number[i] != '0';
        order += significant ? 1 : 0;
    }
    if (i < number.size() && number[i] == '.') {
        for (++i; i < number.size() && isDigit(number[i]); ++i) {
            significant |= number[i] != '0';
            order -= significant ? 0 : 1;
        }
    }
    std::int64_t exponent = 0;
    if (i + 1 < number.size() && (number[i] == 'e' || number[i] == 'E')) {
        ++i;
        const bool negative = number[i] == '-';
        i += number[i] == '-' || number[i] == '+' ? 1 : 0;
        // Held well inside 64 bits (one more digit must still fit): an exponent this large
        // decides alone.
        constexpr std::int64_t kHeld = 100'000'000'000'000'000;
        for (; i < number.size() && isDigit(number[i]) && exponent < kHeld; ++i)
            exponent = exponent * 10 + (number[i] - '0');
        exponent = negative ? -exponent : exponent;
    }
    return order + exponent < 0;
}

template <typename T>
LeadingNumber takeLeadingFloating(std::string_view& s, T& out) {
    const std::size_t start = numberStart(s);
    if (start == std::string_view::npos)
        return LeadingNumber::None;
    const char* const first = s.data() + start;
    T value{};
    const auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        if (!belowRange(std::string_view(first, std::size_t(ptr - first))))
            return LeadingNumber::TooLarge;
        value = *first == '-' ? -T(0) : T(0);
    } else if (ec != std::errc()) {
        return LeadingNumber::None;
    }
    out = value;
    s.remove_prefix(std::size_t(ptr - s.data()));
    return LeadingNumber::Read;
}

}  // namespace

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

LeadingNumber takeLeadingFloat(std::string_view& s, float& out) { return takeLeadingFloating(s, out); }

LeadingNumber takeLeadingInt(std::string_view& s, std::int32_t& out) {
    const std::size_t start = numberStart(s);
    if (start == std::string_view::npos)
        return LeadingNumber::None;
    const char* const first = s.data() + start;
    std::int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec == std::errc::result_out_of_range) {
        out = *first == '-' ? INT32_MIN : INT32_MAX;
        return LeadingNumber::TooLarge;
    }
    if (ec != std::errc())
        return LeadingNumber::None;
    out = value;
    s.remove_prefix(std::size_t(ptr - s.data()));
    return LeadingNumber::Read;
}

bool takeFloat(std::string_view& s, float& out) { return takeLeadingFloat(s, out) == LeadingNumber::Read; }
bool takeInt(std::string_view& s, std::int32_t& out) {
    std::int32_t value = 0;
    if (takeLeadingInt(s, value) != LeadingNumber::Read)
        return false;
    out = value;
    return true;
}

bool parseFloat(std::string_view s, float& out) {
    s = trimBlanks(s);
    float value = 0;
    if (!takeFloat(s, value) || !s.empty())
        return false;
    out = value;
    return true;
}

bool parseInt(std::string_view s, std::int32_t& out) {
    s = trimBlanks(s);
    std::int32_t value = 0;
    if (!takeInt(s, value) || !s.empty())
        return false;
    out = value;
    return true;
}

}  // namespace rv
