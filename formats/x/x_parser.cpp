#include "formats/x/x_parser.h"

#include <string>
#include <unordered_map>

#include "formats/common/text_cursor.h"
#include "formats/x/x_lexer.h"
#include "formats/x/x_mszip.h"

namespace rv {

bool xSameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i], d = b[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (d >= 'A' && d <= 'Z')
            d = char(d - 'A' + 'a');
        if (c != d)
            return false;
    }
    return true;
}

namespace {

inline constexpr std::size_t kHeaderBytes = 16;

bool digits(std::string_view s) {
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string describe(const XToken& t) {
    switch (t.kind) {
    case XTokenKind::End: return "the end of the file";
    case XTokenKind::Error: return "an unreadable token";
    case XTokenKind::Name: return "name \"" + std::string(t.text.substr(0, 40)) + "\"";
    case XTokenKind::String: return "a string";
    case XTokenKind::Number: return "a number";
    case XTokenKind::Guid: return "a GUID";
    case XTokenKind::OBrace: return "\"{\"";
    case XTokenKind::CBrace: return "\"}\"";
    case XTokenKind::Template: return "\"template\"";
    case XTokenKind::Array: return "\"array\"";
    case XTokenKind::Primitive: return "type \"" + std::string(t.text) + "\"";
    default: return "punctuation";
    }
}

// A name where a data object's type or name may stand: a keyword spelled as a name still names.
bool nameLike(const XToken& t) {
    return t.kind == XTokenKind::Name || t.kind == XTokenKind::Primitive || t.kind == XTokenKind::Array;
}

class Parser {
public:
    Parser(XLexer& lex, XDocument& doc, std::span<const std::byte> body, std::size_t base)
        : lex_(lex),
          doc_(doc),
          body_(body),
          base_(base) {}

    std::optional<FormatError> run() {
        for (;;) {
            const XToken t = lex_.next();
            if (t.kind == XTokenKind::End)
                break;
            if (t.kind == XTokenKind::Template) {
                if (auto e = parseTemplate(t))
                    return e;
            } else if (nameLike(t)) {
                std::uint32_t index = 0;
                if (auto e = parseObject(t, 1, index))
                    return e;
                doc_.topLevel.push_back(index);
            } else if (t.kind == XTokenKind::Error) {
                return lexError();
            } else {
                return errorAt(t.offset, "unexpected " + describe(t) + " outside any object");
            }
        }
        return std::nullopt;
    }

private:
    FormatError errorAt(std::size_t offset, std::string reason) const {
        FormatError e{{}, base_ + offset, 0, std::move(reason)};
        if (doc_.header.compressed) {
            e.reason += " (in the decompressed data)";
        } else if (!lex_.binary()) {
            // The header ends without a line break in some files; count lines over the body.
            e.line = TextCursor(body_).lineAt(offset);
        }
        return e;
    }
    FormatError lexError() const {
        FormatError e = *lex_.error();
        return errorAt(e.offset, e.reason);
    }
    std::optional<FormatError> unexpected(const XToken& t, const char* where) const {
        if (t.kind == XTokenKind::Error)
            return lexError();
        return errorAt(t.offset, "unexpected " + describe(t) + " " + where);
    }

    // template NAME { GUID members [restriction] }: checked for form, recorded by name.
    std::optional<FormatError> parseTemplate(const XToken& start) {
        const XToken name = lex_.next();
        if (!nameLike(name))
            return unexpected(name, "after \"template\"");
        XToken t = lex_.next();
        if (t.kind != XTokenKind::OBrace)
            return unexpected(t, "after a template name");
        t = lex_.next();
        if (t.kind != XTokenKind::Guid)
            return unexpected(t, "where a template's GUID belongs");
        int brackets = 0;
        for (;;) {
            t = lex_.next();
            switch (t.kind) {
            case XTokenKind::CBrace:
                if (brackets != 0)
                    return unexpected(t, "inside a template's brackets");
                doc_.templates.push_back({name.text, start.offset});
                return std::nullopt;
            case XTokenKind::OBracket:
                if (++brackets > 1)
                    return unexpected(t, "inside a template's brackets");
                break;
            case XTokenKind::CBracket:
                if (--brackets < 0)
                    return unexpected(t, "in a template");
                break;
            case XTokenKind::Name:
            case XTokenKind::Primitive:
            case XTokenKind::Array:
            case XTokenKind::Number:
            case XTokenKind::Guid:
            case XTokenKind::Semicolon:
            case XTokenKind::Comma:
            case XTokenKind::Dot: break;
            default: return unexpected(t, "in a template");
            }
        }
    }

    // TYPE [name] { [GUID] data, child objects, references }
    std::optional<FormatError> parseObject(const XToken& type, int depth, std::uint32_t& index) {
        if (depth > kXMaxDepth)
            return errorAt(type.offset, "objects are nested deeper than " + std::to_string(kXMaxDepth) + " levels");
        XObject object;
        object.type = type.text;
        object.offset = type.offset;
        XToken t = lex_.next();
        // Object names may look like numbers ("Frame 01").
        if (nameLike(t) || (t.kind == XTokenKind::Number && !lex_.binary())) {
            object.name = t.text;
            t = lex_.next();
        }
        if (t.kind != XTokenKind::OBrace)
            return unexpected(t, ("after \"" + std::string(type.text.substr(0, 40)) + "\"").c_str());
        if (lex_.peek().kind == XTokenKind::Guid)
            lex_.next();
        index = std::uint32_t(doc_.objects.size());
        doc_.objects.push_back({});
        for (;;) {
            lex_.numbers(object.numbers);
            t = lex_.next();
            switch (t.kind) {
            case XTokenKind::CBrace:
                doc_.objects[index] = std::move(object);
                if (!doc_.objects[index].name.empty())
                    names_.emplace(doc_.objects[index].name, index);
                return std::nullopt;
            case XTokenKind::String: object.strings.push_back(t.text); break;
            case XTokenKind::Comma:
            case XTokenKind::Semicolon: break;
            case XTokenKind::OBrace: {
                if (auto e = parseReference(object))
                    return e;
                break;
            }
            case XTokenKind::Name:
            case XTokenKind::Primitive:
            case XTokenKind::Array: {
                std::uint32_t child = 0;
                if (auto e = parseObject(t, depth + 1, child))
                    return e;
                object.children.push_back(child);
                break;
            }
            case XTokenKind::End:
                return errorAt(object.offset, "file ends inside \"" + std::string(object.type.substr(0, 40)) +
                                                  "\" (a \"}\" is missing)");
            default: return unexpected(t, ("inside \"" + std::string(object.type.substr(0, 40)) + "\"").c_str());
            }
        }
    }

    // { name }, { GUID } or { name GUID }: only objects completed earlier can be named, so
    // references never form a cycle.
    std::optional<FormatError> parseReference(XObject& object) {
        XToken t = lex_.next();
        std::string_view name;
        if (nameLike(t) || (t.kind == XTokenKind::Number && !lex_.binary())) {
            name = t.text;
            t = lex_.next();
        }
        if (t.kind == XTokenKind::Guid)
            t = lex_.next();
        if (t.kind != XTokenKind::CBrace)
            return unexpected(t, "in a reference");
        if (name.empty()) {
            ++doc_.droppedReferences;
            return std::nullopt;
        }
        const auto it = names_.find(name);
        if (it == names_.end())
            ++doc_.droppedReferences;
        else
            object.children.push_back(it->second);
        return std::nullopt;
    }

    XLexer& lex_;
    XDocument& doc_;
    std::span<const std::byte> body_;
    std::size_t base_;
    std::unordered_map<std::string_view, std::uint32_t> names_;
};

}  // namespace

std::optional<XHeader> parseXHeader(std::span<const std::byte> file, FormatError& error) {
    if (file.size() < kHeaderBytes) {
        error = FormatError::atByte(0, "file is too short for an .x header");
        return std::nullopt;
    }
    const std::string_view h(reinterpret_cast<const char*>(file.data()), kHeaderBytes);
    if (h.substr(0, 4) != "xof ") {
        error = FormatError::atByte(0, "not an .x file (no \"xof \" header)");
        return std::nullopt;
    }
    XHeader header;
    const std::string_view version = h.substr(4, 4);
    // D3DX refuses other major versions (0102 among them); minor versions other than 02 and 03
    // are read like them.
    if (!digits(version) || version.substr(0, 2) != "03") {
        error = FormatError::atByte(4, "unsupported .x version \"" + std::string(version) + "\"");
        return std::nullopt;
    }
    header.major = 3;
    header.minor = (version[2] - '0') * 10 + (version[3] - '0');
    const std::string_view format = h.substr(8, 4);
    if (format == "txt ") {
        header.encoding = XEncoding::Text;
    } else if (format == "bin ") {
        header.encoding = XEncoding::Binary;
    } else if (format == "tzip") {
        header.encoding = XEncoding::Text;
        header.compressed = true;
    } else if (format == "bzip") {
        header.encoding = XEncoding::Binary;
        header.compressed = true;
    } else {
        error = FormatError::atByte(8, "unsupported .x format \"" + std::string(format) + "\"");
        return std::nullopt;
    }
    const std::string_view floatSize = h.substr(12, 4);
    if (floatSize == "0064") {
        header.doubles = true;
    } else if (floatSize != "0032") {
        error = FormatError::atByte(12, "unsupported float size \"" + std::string(floatSize) + "\"");
        return std::nullopt;
    }
    return header;
}

std::optional<FormatError> parseX(std::span<const std::byte> file, XDocument& doc) {
    FormatError headerError;
    const auto header = parseXHeader(file, headerError);
    if (!header)
        return headerError;
    doc.header = *header;
    std::span<const std::byte> body = file.subspan(kHeaderBytes);
    std::size_t base = kHeaderBytes;
    if (header->compressed) {
        if (auto e = inflateMszip(file, doc.expanded))
            return e;
        body = doc.expanded;
        base = 0;
    }
    XLexer lex(body, header->encoding == XEncoding::Binary, header->doubles);
    Parser parser(lex, doc, body, base);
    return parser.run();
}

}  // namespace rv
