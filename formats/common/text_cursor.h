// Line and number reading over a text file held in memory. Numbers are parsed with
// std::from_chars only: never locale-dependent.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

#include "formats/common/format_error.h"

namespace rv {

class TextCursor {
public:
    explicit TextCursor(std::span<const std::byte> data)
        : text_(reinterpret_cast<const char*>(data.data()), data.size()) {}
    explicit TextCursor(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ >= text_.size(); }
    std::size_t offset() const { return pos_; }
    void seek(std::size_t pos) { pos_ = pos < text_.size() ? pos : text_.size(); }
    std::string_view text() const { return text_; }

    // The next line without its CR/LF (a lone CR, LF or CR LF ends a line).
    std::string_view readLine() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && text_[pos_] != '\n' && text_[pos_] != '\r')
            ++pos_;
        const std::string_view line = text_.substr(start, pos_ - start);
        if (pos_ < text_.size() && text_[pos_] == '\r')
            ++pos_;
        if (pos_ < text_.size() && text_[pos_] == '\n' && (pos_ == start + line.size() || text_[pos_ - 1] == '\r'))
            ++pos_;
        return line;
    }

    // 1-based line number of a byte offset.
    std::uint32_t lineAt(std::size_t offset) const {
        std::uint32_t line = 1;
        for (std::size_t i = 0; i < offset && i < text_.size(); ++i) {
            if (text_[i] == '\n' || (text_[i] == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n')))
                ++line;
        }
        return line;
    }

    FormatError error(std::string reason) const { return errorAt(pos_, std::move(reason)); }
    FormatError errorAt(std::size_t offset, std::string reason) const {
        return FormatError::atLine(lineAt(offset), offset, std::move(reason));
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string_view trimBlanks(std::string_view s);

// What a leading-number read found.
enum class LeadingNumber : std::uint8_t {
    Read,  // a number; `s` now starts after it
    None,  // no number at the front of `s`
    TooLarge,  // a number beyond the type's range
};

// The number at the front of `s`, as C's "%f" takes it but whatever the locale: white space, one
// optional '+' or '-', then decimal digits with an optional '.' fraction and e/E exponent, or
// inf, infinity or nan. No hexadecimal ("0x10" reads 0). Rounded once, straight to float; a
// number too small for a float reads as a zero of its sign. `s` and `out` change only on Read.
LeadingNumber takeLeadingFloat(std::string_view& s, float& out);
// The same for "%d": white space, one optional sign, decimal digits. On TooLarge `out` is held at
// INT32_MIN or INT32_MAX (and `s` is left as it was).
LeadingNumber takeLeadingInt(std::string_view& s, std::int32_t& out);

// Whole-string parses (after trimming blanks); false when `s` is not entirely a number.
bool parseFloat(std::string_view s, float& out);
bool parseInt(std::string_view s, std::int32_t& out);

// A leading number that fits (see above), advancing `s` past it; false when there is none.
bool takeFloat(std::string_view& s, float& out);
bool takeInt(std::string_view& s, std::int32_t& out);

}  // namespace rv
