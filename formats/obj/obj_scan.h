// The first pass over an OBJ file: what tinyobjloader does not keep or does not check. It counts
// the tables, resolves and checks every corner index of "f", "l" and "p" elements, notes the
// material each element is drawn with and the material libraries named, and refuses what cannot
// be read: non-numbers among the coordinates, indices past their tables, counts past the caps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/common/format_error.h"
#include "model/model.h"

namespace rv {

// What the reader takes in at most: 16 times what a model holds, so that a model somewhat over
// the limits still reads (and can be simplified) while a hostile file allocates little.
inline constexpr std::int64_t kObjMaxPolygons = 16 * std::int64_t(kMaxPolygons);
inline constexpr std::int64_t kObjMaxTableEntries = 16 * std::int64_t(kMaxTableEntries);

struct ObjCorner {
    std::int32_t position = 0;  // 0-based, checked
    std::int32_t uv = -1;  // -1: none given
    std::int32_t normal = -1;
};

struct ObjElement {
    enum Kind : std::uint8_t { Face, Line, Points };
    Kind kind = Face;
    std::int32_t material = -1;  // index into ObjScan::materialNames, -1 none
    std::uint32_t firstCorner = 0;
    std::uint32_t cornerCount = 0;
    std::uint32_t line = 0;  // 1-based, for messages
};

struct ObjScan {
    std::int64_t positions = 0, uvs = 0, normals = 0;
    bool colors = false;  // some "v" line carries a colour (six numbers or more)
    bool uvMissing = false;  // some corner of a face or line names no texture coordinate
    bool normalsPastTable = false;  // some corner names a normal the file does not hold
    std::int64_t polygons = 0;  // what the elements become once split
    std::vector<ObjElement> elements;  // in file order
    std::vector<ObjCorner> corners;
    std::vector<std::string> materialNames;  // as "usemtl" names them, in order of first use
    std::vector<std::string> libraries;  // the rest of each "mtllib" line, trimmed
    // Where the "v", "vt" and "vn" lines are, line ends included, runs of them merged: the only
    // part of the file tinyobjloader is given.
    struct Range {
        std::size_t begin = 0, end = 0;
    };
    std::vector<Range> vertexLines;
};

// `text` without a byte-order mark and holding no NUL byte.
std::optional<FormatError> scanObj(std::string_view text, ObjScan& scan);

}  // namespace rv
