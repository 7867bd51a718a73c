// Rokkaku Daioh text models: points, lines (edges), faces given by their edges, and a 13-colour
// palette, one value per line. The whole file is checked before anything goes into the model.
#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/common/text_cursor.h"
#include "formats/rok/rok.h"
#include "model/mesh.h"

namespace rv {
namespace {

// The format's own reader took at most 19 characters per line; a longer line is cut and its rest
// read as the next line, which shifts every following record (files rely on nothing else).
constexpr std::size_t kLineChars = 19;
constexpr int kPaletteEntries = 13;

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Yields the file's lines as that reader saw them: at most 19 characters, ended by CR or LF; a
// CR LF or LF CR pair is one line end, two equal ones enclose an empty line.
class RokLines {
public:
    explicit RokLines(std::string_view text) : text_(text) {}

    // False at the end of the file.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        start_ = pos_;
        while (pos_ < text_.size() && pos_ - start_ < kLineChars && !isLineEnd(text_[pos_]))
            ++pos_;
        line = text_.substr(start_, pos_ - start_);
        if (pos_ < text_.size() && isLineEnd(text_[pos_])) {
            const char first = text_[pos_++];
            if (pos_ < text_.size() && isLineEnd(text_[pos_]) && text_[pos_] != first)
                ++pos_;
        }
        return true;
    }

    // Where the line last returned starts.
    std::size_t lineStart() const { return start_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
};

// The leading number of a line as an integer; 0 without digits. Values beyond 32 bits are held at
// the 32-bit limits, which every check below refuses.
std::int32_t leadingInt(std::string_view s) {
    std::int32_t value = 0;
    takeLeadingInt(s, value);
    return value;
}

// The leading number of a line as a float; 0 without digits. False when it does not fit a float
// (the model cannot hold it) or is not finite.
bool leadingFloat(std::string_view s, float& out) {
    float value = 0;
    if (takeLeadingFloat(s, value) == LeadingNumber::TooLarge || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

struct RokLine {
    std::int32_t start = 0, end = 0;  // 1-based point numbers
};

struct RokFace {
    std::int32_t cornerCount = 0;
    std::int32_t palette = 0;
    std::array<std::int32_t, 4> lines{};  // 1-based line numbers
};

struct RokReader {
    std::string_view text;
    RokLines in;
    std::string_view line;

    std::vector<ModelVertex> points;  // (x, -y, z) as read
    std::vector<RokLine> edges;
    std::vector<RokFace> faces;
    std::array<ModelColor, kPaletteEntries + 1> palette{};

    explicit RokReader(std::string_view t) : text(t), in(t) {}

    FormatError error(std::string reason) const { return TextCursor(text).errorAt(in.lineStart(), std::move(reason)); }
    FormatError endError(const char* where) const {
        return TextCursor(text).errorAt(text.size(), std::string("the file ends inside the ") + where);
    }

    bool next() { return in.next(line); }

    bool skipTo(std::string_view marker) {
        while (next()) {
            if (line == marker)
                return true;
        }
        return false;
    }

    std::optional<FormatError> readPoints() {
        if (!skipTo("POINT"))
            return TextCursor(text).errorAt(text.size(), "the file has no \"POINT\" line");
        for (;;) {
            if (!next())
                return endError("point section");
            if (line == "LINE0")
                break;
            const std::int32_t number = leadingInt(line);
            if (std::int64_t(number) != std::int64_t(points.size()) + 1)
                return error("point number " + std::to_string(number) + " is out of sequence (expected " +
                             std::to_string(points.size() + 1) + ")");
            for (int i = 0; i < 4; ++i) {
                if (!next())
                    return endError("point section");
            }
            std::array<float, 3> xyz{};
            for (float& v : xyz) {
                if (!next())
                    return endError("point section");
                if (!leadingFloat(line, v))
                    return error("coordinate \"" + std::string(line) + "\" is out of range");
            }
            points.push_back({xyz[0], -xyz[1], xyz[2]});
        }
        if (points.empty())
            return error("the point section is empty");
        return std::nullopt;
    }

    std::optional<FormatError> checkPoint(std::int32_t number, const char* what) const {
        if (number < 1 || std::size_t(number) > points.size())
            return error(std::string("line ") + what + " point " + std::to_string(number) + " is not one of the " +
                         std::to_string(points.size()) + " points");
        return std::nullopt;
    }

    std::optional<FormatError> readLines() {
        for (;;) {
            if (!next())
                return endError("line section");
            if (line == "FACE0")
                break;
            RokLine edge;
            edge.start = leadingInt(line);
            if (auto err = checkPoint(edge.start, "start"))
                return err;
            if (!next())
                return endError("line section");
            edge.end = leadingInt(line);
            if (auto err = checkPoint(edge.end, "end"))
                return err;
            for (int i = 0; i < 2; ++i) {
                if (!next())
                    return endError("line section");
            }
            edges.push_back(edge);
        }
        if (edges.empty())
            return error("the line section is empty");
        return std::nullopt;
    }

    std::optional<FormatError> readFaces() {
        for (;;) {
            if (!next())
                return endError("face section");
            if (line == "END00")
                break;
            if (faces.size() >= std::size_t(kMaxPolygons))
                return error("face count is over the limit of " + std::to_string(kMaxPolygons));
            RokFace face;
            face.cornerCount = leadingInt(line);
            if (face.cornerCount != 3 && face.cornerCount != 4)
                return error("face corner count " + std::to_string(face.cornerCount) + " is not 3 or 4");
            if (!next())
                return endError("face section");
            face.palette = leadingInt(line);
            if (face.palette < 0 || face.palette > kPaletteEntries)
                return error("palette index " + std::to_string(face.palette) + " is not between 0 and 13");
            if (!next())
                return endError("face section");
            const std::int32_t number = leadingInt(line);
            if (std::int64_t(number) != std::int64_t(faces.size()) + 1)
                return error("face number " + std::to_string(number) + " is out of sequence (expected " +
                             std::to_string(faces.size() + 1) + ")");
            for (std::int32_t k = 0; k < face.cornerCount; ++k) {
                if (!next())
                    return endError("face section");
                const std::int32_t edge = leadingInt(line);
                if (edge < 1 || std::size_t(edge) > edges.size())
                    return error("face line " + std::to_string(edge) + " is not one of the " +
                                 std::to_string(edges.size()) + " lines");
                face.lines[k] = edge;
            }
            faces.push_back(face);
        }
        if (faces.empty())
            return error("the face section is empty");
        return std::nullopt;
    }

    std::optional<FormatError> readPalette() {
        if (!skipTo("PALC0"))
            return TextCursor(text).errorAt(text.size(), "the file has no \"PALC0\" line");
        if (!next())
            return endError("palette");
        if (leadingInt(line) != kPaletteEntries)
            return error("palette size \"" + std::string(line) + "\" is not 13");
        if (!next())
            return endError("palette");
        // Entry 0 is built in: mid grey.
        palette[0] = colorOf({128, 128, 128, 128, 128, 128});
        int entries = 0;
        for (;;) {
            if (!next())
                return endError("palette");
            if (line == "ENDP0")
                break;
            if (entries == kPaletteEntries)
                return error("the palette has more than 13 entries");
            std::array<std::int64_t, 6> c{};
            c[0] = leadingInt(line);
            for (int i = 1; i < 7; ++i) {
                if (!next())
                    return endError("palette");
                if (i < 6)
                    c[i] = leadingInt(line);
            }
            palette[++entries] = colorOf(c);
        }
        if (entries != kPaletteEntries)
            return error("the palette has " + std::to_string(entries) + " entries instead of 13");
        return std::nullopt;
    }

    static ModelColor colorOf(const std::array<std::int64_t, 6>& c) {
        const float red = float(c[0] + c[3]) / 510.0f;
        const float green = float(c[1] + c[4]) / 510.0f;
        const float blue = float(c[2] + c[5]) / 510.0f;
        return {red * 255.0f, green * 255.0f, blue * 255.0f, 255.0f};
    }

    // 0-based point indices of a face's corners, walked along its lines.
    std::array<std::int32_t, 4> cornerPoints(const RokFace& face) const {
        const RokLine& l1 = edges[face.lines[0] - 1];
        const RokLine& l2 = edges[face.lines[1] - 1];
        std::array<std::int32_t, 4> p{};
        if (l1.start == l2.start || l1.start == l2.end) {
            p[0] = l1.end;
            p[1] = l1.start;
        } else {
            p[0] = l1.start;
            p[1] = l1.end;
        }
        p[2] = l2.start == p[1] ? l2.end : l2.start;
        if (face.cornerCount == 4) {
            const RokLine& l3 = edges[face.lines[2] - 1];
            p[3] = l3.start == p[2] ? l3.end : l3.start;
        } else {
            p[3] = p[2];
        }
        for (std::int32_t& index : p)
            --index;
        return p;
    }

    void build(Model& model) const {
        const std::size_t entries = faces.size() * 4;
        model.positions.clear();
        model.colors.clear();
        model.positions.reserve(entries);
        model.colors.reserve(entries);
        model.polygons.assign(faces.size(), ModelPolygon{});
        for (std::size_t j = 0; j < faces.size(); ++j) {
            const RokFace& face = faces[j];
            const std::array<std::int32_t, 4> p = cornerPoints(face);
            const ModelColor color = palette[face.palette];
            ModelPolygon& polygon = model.polygons[j];
            polygon.cornerCount = static_cast<std::uint8_t>(face.cornerCount);
            polygon.group = 0;
            // A triangle's unused fourth entry repeats its third corner, so bounds stay on the model.
            for (int k = 0; k < 4; ++k) {
                const ModelVertex& v = points[p[k]];
                model.positions.push_back({v.x * 10.0f, v.y * 10.0f, v.z * 10.0f});
                model.colors.push_back(color);
                if (k < face.cornerCount) {
                    ModelCorner& corner = polygon.corners[k];
                    corner.position = corner.color = static_cast<std::int32_t>(4 * j + k);
                    corner.uv = 0;
                }
            }
        }
        model.skin.assign(entries, ModelSkinWeight{});
        model.uvs.assign(1, ModelUV{});
        for (ModelGroup& group : model.groups)
            group.materialParams[4] = 1;
        model.groups[0].shadeParam = 3;
        model.renderModeDirty = 1;
    }
};

}  // namespace

std::optional<FormatError> readRok(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    RokReader reader(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    if (auto err = reader.readPoints())
        return err;
    if (auto err = reader.readLines())
        return err;
    if (auto err = reader.readFaces())
        return err;
    if (auto err = reader.readPalette())
        return err;
    if (!ctx.path.empty())
        model.fileName = ctx.path;
    reader.build(model);
    computeNormals(model);
    return std::nullopt;
}

}  // namespace rv
