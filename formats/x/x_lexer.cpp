#include "formats/x/x_lexer.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

#include "formats/x/x_tokens.h"

namespace rv {

namespace {

constexpr const char* kPrimitiveNames[] = {"WORD",  "DWORD",  "FLOAT", "DOUBLE", "CHAR",    "UCHAR",
                                           "SWORD", "SDWORD", "VOID",  "STRING", "UNICODE", "CSTRING"};
constexpr const char* kExtraPrimitives[] = {"BYTE", "BINARY", "BINARY_RESOURCE", "ULONGLONG"};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0' || c == '\f' || c == '\v'; }
bool isPunct(char c) {
    switch (c) {
    case '{':
    case '}':
    case '(':
    case ')':
    case '[':
    case ']':
    case '<':
    case '>':
    case ',':
    case ';': return true;
    default: return false;
    }
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool sameWord(std::string_view a, const char* b) {
    const std::size_t n = std::strlen(b);
    if (a.size() != n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char c = a[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        const char d = (b[i] >= 'a' && b[i] <= 'z') ? char(b[i] - 'a' + 'A') : b[i];
        if (c != d)
            return false;
    }
    return true;
}

std::uint16_t readU16(std::string_view s, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, s.data() + at, 2);
    return v;
}
std::uint32_t readU32(const char* at) {
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}
std::uint32_t readU32(std::string_view s, std::size_t at) { return readU32(s.data() + at); }
std::uint64_t readU64(const char* at) {
    std::uint64_t v;
    std::memcpy(&v, at, 8);
    return v;
}

}  // namespace

XLexer::XLexer(std::span<const std::byte> body, bool binary, bool doubles)
    : text_(reinterpret_cast<const char*>(body.data()), body.size()),
      binary_(binary),
      doubles_(doubles) {}

XToken XLexer::fail(std::size_t at, std::string reason) {
    if (!error_)
        error_ = FormatError::atByte(at, std::move(reason));
    pos_ = text_.size();
    listLeft_ = 0;
    XToken t;
    t.kind = XTokenKind::Error;
    t.offset = at;
    return t;
}

XToken XLexer::peek() {
    if (!peeked_)
        peeked_ = next();
    return *peeked_;
}

XToken XLexer::next() {
    if (peeked_) {
        XToken t = *peeked_;
        peeked_.reset();
        return t;
    }
    if (error_) {
        XToken t;
        t.kind = XTokenKind::Error;
        return t;
    }
    return binary_ ? readBinary() : readText();
}

// A number ends at a blank, a punctuation character or a quote; "12ab" is a name, not a number.
// Exporters' "1.#IND00" and "-1.#QNAN0" (not-a-number printouts) read as 0.
bool XLexer::textNumber(XToken& out) {
    const std::size_t start = pos_;
    std::size_t i = pos_;
    const std::size_t n = text_.size();
    if (i < n && (text_[i] == '-' || text_[i] == '+'))
        ++i;
    std::size_t digits = 0;
    while (i < n && isDigit(text_[i]))
        ++i, ++digits;
    bool special = false;
    if (i < n && text_[i] == '.') {
        ++i;
        if (i < n && text_[i] == '#' && digits > 0) {
            special = true;
            while (i < n && (isHex(text_[i]) || text_[i] == '#' || (text_[i] >= 'A' && text_[i] <= 'Z') ||
                             (text_[i] >= 'a' && text_[i] <= 'z')))
                ++i;
        } else {
            while (i < n && isDigit(text_[i]))
                ++i, ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (!special && i < n && (text_[i] == 'e' || text_[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (text_[j] == '-' || text_[j] == '+'))
            ++j;
        if (j < n && isDigit(text_[j])) {
            while (j < n && isDigit(text_[j]))
                ++j;
            i = j;
        }
    }
    if (i < n && !isSpace(text_[i]) && !isPunct(text_[i]) && text_[i] != '"' &&
        !(text_[i] == '/' && i + 1 < n && text_[i + 1] == '/') && text_[i] != '#')
        return false;
    out.kind = XTokenKind::Number;
    out.offset = start;
    out.text = text_.substr(start, i - start);
    if (special) {
        out.number = 0;
    } else {
        const char* first = text_.data() + start;
        if (*first == '+')
            ++first;
        double v = 0;
        const auto res = std::from_chars(first, text_.data() + i, v);
        if (res.ec == std::errc::result_out_of_range)
            v = 0;
        else if (res.ec != std::errc() || res.ptr != text_.data() + i)
            return false;
        out.number = v;
    }
    pos_ = i;
    return true;
}

XToken XLexer::readText() {
    const std::size_t n = text_.size();
    for (;;) {
        while (pos_ < n && isSpace(text_[pos_]))
            ++pos_;
        if (pos_ < n && (text_[pos_] == '#' || (text_[pos_] == '/' && pos_ + 1 < n && text_[pos_ + 1] == '/'))) {
            while (pos_ < n && text_[pos_] != '\n' && text_[pos_] != '\r')
                ++pos_;
            continue;
        }
        break;
    }
    XToken t;
    t.offset = pos_;
    if (pos_ >= n)
        return t;
    const char c = text_[pos_];
    auto punct = [&](XTokenKind kind) {
        t.kind = kind;
        ++pos_;
        return t;
    };
    switch (c) {
    case '{': return punct(XTokenKind::OBrace);
    case '}': return punct(XTokenKind::CBrace);
    case '(': return punct(XTokenKind::OParen);
    case ')': return punct(XTokenKind::CParen);
    case '[': return punct(XTokenKind::OBracket);
    case ']': return punct(XTokenKind::CBracket);
    case '>': return punct(XTokenKind::CAngle);
    case ',': return punct(XTokenKind::Comma);
    case ';': return punct(XTokenKind::Semicolon);
    case '<': {
        // A GUID, allowing blanks inside the brackets as some files write it.
        std::string digits;
        std::size_t i = pos_ + 1;
        while (i < n && i < pos_ + 80 && text_[i] != '>') {
            if (!isSpace(text_[i]))
                digits += text_[i];
            ++i;
        }
        bool ok = i < n && text_[i] == '>' && digits.size() == 36;
        for (std::size_t k = 0; ok && k < 36; ++k)
            ok = (k == 8 || k == 13 || k == 18 || k == 23) ? digits[k] == '-' : isHex(digits[k]);
        if (!ok)
            return punct(XTokenKind::OAngle);
        t.kind = XTokenKind::Guid;
        t.text = text_.substr(pos_, i + 1 - pos_);
        pos_ = i + 1;
        return t;
    }
    case '"': {
        const std::size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos)
            return fail(pos_, "string is not closed");
        t.kind = XTokenKind::String;
        t.text = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return t;
    }
    default: break;
    }
    if (isDigit(c) || c == '-' || c == '+' || (c == '.' && pos_ + 1 < n && isDigit(text_[pos_ + 1]))) {
        if (textNumber(t))
            return t;
    } else if (c == '.') {
        return punct(XTokenKind::Dot);
    }
    std::size_t i = pos_;
    while (i < n && !isSpace(text_[i]) && !isPunct(text_[i]) && text_[i] != '"' &&
           !(text_[i] == '/' && i + 1 < n && text_[i + 1] == '/'))
        ++i;
    if (i == pos_)
        return fail(pos_, "unexpected character");
    t.text = text_.substr(pos_, i - pos_);
    pos_ = i;
    t.kind = XTokenKind::Name;
    if (sameWord(t.text, "template"))
        t.kind = XTokenKind::Template;
    else if (sameWord(t.text, "array"))
        t.kind = XTokenKind::Array;
    else {
        for (const char* p : kPrimitiveNames)
            if (sameWord(t.text, p))
                t.kind = XTokenKind::Primitive;
        for (const char* p : kExtraPrimitives)
            if (sameWord(t.text, p))
                t.kind = XTokenKind::Primitive;
    }
    return t;
}

// The next value of the binary integer or float list being expanded.
XToken XLexer::listNumber(std::size_t offset) {
    XToken t;
    t.offset = offset;
    --listLeft_;
    t.kind = XTokenKind::Number;
    if (!listFloats_) {
        t.number = readU32(text_, pos_);
        pos_ += 4;
    } else if (doubles_) {
        std::uint64_t bits;
        std::memcpy(&bits, text_.data() + pos_, 8);
        t.number = std::bit_cast<double>(bits);
        pos_ += 8;
    } else {
        t.number = std::bit_cast<float>(readU32(text_, pos_));
        pos_ += 4;
    }
    return t;
}

// A binary name or string token, its token id already read: a count and that many bytes.
XToken XLexer::nameOrString(std::uint16_t id, std::size_t offset) {
    const std::size_t n = text_.size();
    const bool name = id == kXName;
    if (n - pos_ < 4 || readU32(text_, pos_) > n - pos_ - 4)
        return fail(offset, name ? "name passes the end of the file" : "string passes the end of the file");
    const std::uint32_t c = readU32(text_, pos_);
    pos_ += 4;
    XToken t;
    t.offset = offset;
    t.kind = name ? XTokenKind::Name : XTokenKind::String;
    t.text = text_.substr(pos_, c);
    pos_ += c;
    if (!name) {
        // The terminator is a separator token; some writers store it as a DWORD.
        if (n - pos_ >= 2 && (readU16(text_, pos_) == kXComma || readU16(text_, pos_) == kXSemicolon)) {
            pos_ += 2;
            if (n - pos_ >= 2 && readU16(text_, pos_) == 0)
                pos_ += 2;
        }
    }
    return t;
}

XToken XLexer::readBinary() {
    const std::size_t n = text_.size();
    XToken t;
    for (;;) {
        t.offset = pos_;
        if (listLeft_ > 0)
            return listNumber(pos_);
        if (pos_ >= n)
            return t;
        if (n - pos_ < 2)
            return fail(pos_, "file ends inside a token");
        const std::uint16_t id = readU16(text_, pos_);
        pos_ += 2;
        auto count = [&](std::size_t recordBytes) -> std::optional<std::uint32_t> {
            if (n - pos_ < 4)
                return std::nullopt;
            const std::uint32_t c = readU32(text_, pos_);
            pos_ += 4;
            if (c > (n - pos_) / recordBytes)
                return std::nullopt;
            return c;
        };
        switch (id) {
        case kXName:
        case kXString: return nameOrString(id, t.offset);
        case kXInteger:
            if (n - pos_ < 4)
                return fail(t.offset, "file ends inside an integer");
            t.kind = XTokenKind::Number;
            t.number = readU32(text_, pos_);
            pos_ += 4;
            return t;
        case kXGuid:
            if (n - pos_ < 16)
                return fail(t.offset, "file ends inside a GUID");
            t.kind = XTokenKind::Guid;
            t.text = text_.substr(pos_, 16);
            pos_ += 16;
            return t;
        case kXIntegerList:
        case kXFloatList: {
            const bool floats = id == kXFloatList;
            const auto c = count(floats && doubles_ ? 8 : 4);
            if (!c)
                return fail(t.offset, floats ? "float list passes the end of the file"
                                             : "integer list passes the end of the file");
            listLeft_ = *c;
            listFloats_ = floats;
            continue;  // an empty list yields nothing
        }
        case kXTemplate: t.kind = XTokenKind::Template; return t;
        case kXArray: t.kind = XTokenKind::Array; return t;
        default: break;
        }
        if (id >= kXOBrace && id <= kXSemicolon) {
            static constexpr XTokenKind kinds[] = {XTokenKind::OBrace, XTokenKind::CBrace,   XTokenKind::OParen,
                                                   XTokenKind::CParen, XTokenKind::OBracket, XTokenKind::CBracket,
                                                   XTokenKind::OAngle, XTokenKind::CAngle,   XTokenKind::Dot,
                                                   XTokenKind::Comma,  XTokenKind::Semicolon};
            t.kind = kinds[id - kXOBrace];
            return t;
        }
        if (id >= kXWord && id <= kXCString) {
            t.kind = XTokenKind::Primitive;
            t.text = id - kXWord < 12 ? std::string_view(kPrimitiveNames[id - kXWord]) : std::string_view();
            return t;
        }
        return fail(t.offset, "unknown binary token " + std::to_string(id));
    }
}

// How many values the binary integers and lists from the current position up to the next
// token that is neither a number nor a separator hold; a list that passes the end stops the count
// (reading it reports the error).
std::size_t XLexer::binaryRunLength() const {
    const std::size_t n = text_.size();
    std::size_t at = pos_ + std::size_t(listLeft_) * (listFloats_ && doubles_ ? 8 : 4);
    std::size_t values = 0;
    while (at <= n && n - at >= 2) {
        const std::uint16_t id = readU16(text_, at);
        if (id == kXComma || id == kXSemicolon) {
            at += 2;
        } else if (id == kXInteger) {
            at += 6;
            ++values;
        } else if (id == kXIntegerList || id == kXFloatList) {
            if (n - at < 6)
                break;
            const std::uint32_t count = readU32(text_, at + 2);
            const std::size_t bytes = id == kXFloatList && doubles_ ? 8 : 4;
            at += 6;
            if (count > (n - at) / bytes)
                break;
            at += count * bytes;
            values += count;
        } else {
            break;
        }
    }
    return values;
}

void XLexer::numbers(HugePageVector<double>& out) {
    while (peeked_) {
        const XTokenKind kind = peeked_->kind;
        if (kind == XTokenKind::Number)
            out.push_back(peeked_->number);
        else if (kind != XTokenKind::Comma && kind != XTokenKind::Semicolon)
            return;
        peeked_.reset();
    }
    if (error_)
        return;
    const std::size_t n = text_.size();
    if (binary_) {
        // One allocation for the whole run: a mesh's lists hold hundreds of thousands of values,
        // and growing list by list would copy them. An object's numbers come in several runs
        // (between its child objects): the room at least doubles, as push_back's would.
        const std::size_t needed = out.size() + listLeft_ + binaryRunLength();
        if (needed > out.capacity())
            out.reserve(std::max(needed, 2 * out.capacity()));
        for (;;) {
            if (listLeft_ > 0) {
                // Appended into the room reserved above: no zero-fill pass before the values.
                const char* at = text_.data() + pos_;
                if (!listFloats_) {
                    for (std::uint32_t k = 0; k < listLeft_; ++k, at += 4)
                        out.push_back(readU32(at));
                } else if (doubles_) {
                    for (std::uint32_t k = 0; k < listLeft_; ++k, at += 8)
                        out.push_back(std::bit_cast<double>(readU64(at)));
                } else {
                    for (std::uint32_t k = 0; k < listLeft_; ++k, at += 4)
                        out.push_back(std::bit_cast<float>(readU32(at)));
                }
                pos_ = std::size_t(at - text_.data());
                listLeft_ = 0;
                continue;
            }
            if (n - pos_ < 2)
                return;
            const std::uint16_t id = readU16(text_, pos_);
            if (id == kXComma || id == kXSemicolon) {
                pos_ += 2;
            } else if (id == kXInteger || id == kXIntegerList || id == kXFloatList) {
                const XToken t = readBinary();
                if (t.kind == XTokenKind::Number)
                    out.push_back(t.number);
                else if (t.kind != XTokenKind::End)
                    peeked_ = t;  // an empty list followed by something else
                if (error_ || t.kind != XTokenKind::Number)
                    return;
            } else {
                return;
            }
        }
    }
    for (;;) {
        while (pos_ < n && isSpace(text_[pos_]))
            ++pos_;
        if (pos_ >= n)
            return;
        const char c = text_[pos_];
        if (c == ',' || c == ';') {
            ++pos_;
            continue;
        }
        if (c == '#' || (c == '/' && pos_ + 1 < n && text_[pos_ + 1] == '/')) {
            while (pos_ < n && text_[pos_] != '\n' && text_[pos_] != '\r')
                ++pos_;
            continue;
        }
        if (!(isDigit(c) || c == '-' || c == '+' || (c == '.' && pos_ + 1 < n && isDigit(text_[pos_ + 1]))))
            return;
        XToken t;
        if (!textNumber(t))
            return;
        out.push_back(t.number);
    }
}

}  // namespace rv
