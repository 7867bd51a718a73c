// The native KZP format: reading revisions 2004002, 2005000, 2006000, 2008000 and 2009000, writing
// revision 2009000.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/common/format_io.h"

namespace rv {

// Motions a KZP file may hold. The format names no limit, but each motion carries key tables for
// 256 groups (about 100 KB in memory), so an unchecked count lets a small file ask for gigabytes.
inline constexpr int kMaxKzpMotions = 1024;

// Default keys that the bones of a 2004002 file may ask for in all (that revision stores only a
// key count per bone, so no file bytes back the keys).
inline constexpr int kMaxKzpDefaultKeys = 65536;

// Reads a KZP file. Refuses revisions other than the five it knows (as a revision kind of
// FormatError, which the loader words for the user), truncated files, counts beyond the model's
// limits and indices past their tables. A stored group render mesh that does not hold together is
// rebuilt from the polygons instead, with one warning naming the group. On success the model holds
// the file's fields, fileName = ctx.path and recomputed normals.
std::optional<FormatError> readKzp(std::span<const std::byte> file, Model& model, ReadContext& ctx);

// Serialises the model as revision 2009000, with group render meshes built from its polygons (the
// model's own stay as they are). Refuses a model the reader would refuse (names longer than their
// fields, counts beyond the limits, indices past their tables) instead of writing it.
std::optional<FormatError> writeKzp(const Model& model, WriteContext& ctx);

// True when a corner's colour or uv index may be stored: inside the table, or 0, which files
// written from formats without colours or uvs carry against an empty table.
inline bool kzpOptionalIndexFits(std::int32_t index, std::size_t tableSize) {
    return index == 0 || (index > 0 && std::size_t(index) < tableSize);
}

// True when `index` lies inside a table of `tableSize` entries.
inline bool kzpIndexFits(std::int32_t index, std::size_t tableSize) {
    return index >= 0 && std::size_t(index) < tableSize;
}

// Why polygon p of `model` cannot be stored, or nullopt when it can: more than 4 corners, a
// corner's position outside the positions, its colour or uv outside its table and not 0, or a
// group outside the groups. Normal indices are free: the normal table is rebuilt after loading
// and every face corner re-pointed, and lines never use theirs. p < polygonCount.
std::optional<std::string> kzpPolygonMisfit(const Model& model, std::size_t p);

}  // namespace rv
