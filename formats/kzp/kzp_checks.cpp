// The polygon check that the KZP reader and writer share, so that no save yields a file the
// reader refuses and both say the same about a polygon that does not fit.
#include "formats/kzp/kzp.h"

namespace rv {

std::optional<std::string> kzpPolygonMisfit(const Model& model, std::size_t p) {
    const ModelPolygon& poly = model.polygons[p];
    const auto what = [p] { return "polygon " + std::to_string(p); };
    if (poly.cornerCount > kMaxCorners)
        return what() + " has " + std::to_string(poly.cornerCount) + " corners, over the limit of 4";
    for (int c = 0; c < poly.cornerCount; ++c) {
        const ModelCorner& corner = poly.corners[std::size_t(c)];
        const char* table = nullptr;
        std::int32_t index = 0;
        std::size_t size = 0;
        if (!kzpIndexFits(corner.position, model.positions.size()))
            table = "position", index = corner.position, size = model.positions.size();
        else if (!kzpOptionalIndexFits(corner.color, model.colors.size()))
            table = "colour", index = corner.color, size = model.colors.size();
        else if (!kzpOptionalIndexFits(corner.uv, model.uvs.size()))
            table = "uv", index = corner.uv, size = model.uvs.size();
        if (table)
            return what() + " corner " + std::to_string(c) + " uses " + table + " " + std::to_string(index) +
                   ", past the " + std::to_string(size) + " " + table + (size == 1 ? "" : "s");
    }
    if (!kzpIndexFits(poly.group, model.groups.size()))
        return what() + " uses group " + std::to_string(poly.group) + ", past the " +
               std::to_string(model.groups.size()) + " groups";
    return std::nullopt;
}

}  // namespace rv
