// Tokens of the .x text and binary encodings behind one interface. Numbers come one at a time
// from next() or in bulk from numbers(); binary integer and float lists are expanded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/common/format_error.h"
#include "model/huge_page_allocator.h"

namespace rv {

enum class XTokenKind : std::uint8_t {
    End,
    Error,
    Name,
    String,
    Number,
    Guid,
    OBrace,
    CBrace,
    OParen,
    CParen,
    OBracket,
    CBracket,
    OAngle,
    CAngle,
    Dot,
    Comma,
    Semicolon,
    Template,
    Array,
    Primitive,  // WORD, DWORD, FLOAT, ... in a template
};

struct XToken {
    XTokenKind kind = XTokenKind::End;
    std::string_view text;  // Name and String bytes, as stored
    double number = 0;
    std::size_t offset = 0;  // in the body
};

class XLexer {
public:
    // `body` is the file after its 16-byte header (decompressed when it was compressed).
    // `doubles` selects 8-byte floats in binary float lists.
    XLexer(std::span<const std::byte> body, bool binary, bool doubles);

    XToken next();
    XToken peek();
    // Appends every number up to the next token that is not a number or a separator.
    void numbers(HugePageVector<double>& out);

    // Set once a token could not be read; next() then keeps returning Error.
    const std::optional<FormatError>& error() const { return error_; }
    bool binary() const { return binary_; }
    std::size_t offset() const { return pos_; }

private:
    XToken readText();
    XToken readBinary();
    XToken listNumber(std::size_t offset);
    XToken nameOrString(std::uint16_t id, std::size_t offset);
    bool textNumber(XToken& out);
    XToken fail(std::size_t at, std::string reason);
    std::size_t binaryRunLength() const;

    std::string_view text_;
    bool binary_;
    bool doubles_;
    std::size_t pos_ = 0;
    // Remaining values of the binary list being expanded.
    std::uint32_t listLeft_ = 0;
    bool listFloats_ = false;
    std::optional<XToken> peeked_;
    std::optional<FormatError> error_;
};

}  // namespace rv
