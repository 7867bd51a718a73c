// The .x file as a tree of data objects. Member data is kept as two ordered queues, numbers and
// strings; whoever reads an object knows its template and takes the values in order. Templates
// declared in the file are checked for form and listed; standard ones need no declaration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/common/format_error.h"
#include "model/huge_page_allocator.h"

namespace rv {

enum class XEncoding : std::uint8_t { Text, Binary };

struct XHeader {
    int major = 0, minor = 0;
    XEncoding encoding = XEncoding::Text;
    bool compressed = false;
    bool doubles = false;  // float size 0064
};

struct XObject {
    std::string_view type;  // the template name as written ("Mesh", "TextureFileName", ...)
    std::string_view name;  // empty when unnamed
    std::size_t offset = 0;
    HugePageVector<double> numbers;  // every integer and float member, in file order
    std::vector<std::string_view> strings;  // every string member, in file order
    std::vector<std::uint32_t> children;  // objects and resolved references, in file order
};

struct XTemplate {
    std::string_view name;
    std::size_t offset = 0;
};

struct XDocument {
    XHeader header;
    HugePageVector<std::byte> expanded;  // the decompressed body of a compressed file
    std::vector<XObject> objects;
    std::vector<std::uint32_t> topLevel;
    std::vector<XTemplate> templates;
    std::size_t droppedReferences = 0;  // references to objects not found
};

inline constexpr int kXMaxDepth = 256;

// Reads the 16-byte header; nullopt and `error` set when it is not an .x header we can read.
std::optional<XHeader> parseXHeader(std::span<const std::byte> file, FormatError& error);

// Parses the whole file (header, optional decompression, body). String views in the document
// point into `file` or into doc.expanded, so `file` must outlive the document.
std::optional<FormatError> parseX(std::span<const std::byte> file, XDocument& doc);

// True when `a` equals `b` ignoring ASCII case (template and object type names).
bool xSameName(std::string_view a, std::string_view b);

}  // namespace rv
