// AutoCAD DXF: only the 3DFACE entities are read, each as a four-cornered polygon in group 0.
// The file is a list of pairs, a group code line and its value line; reading it as pairs keeps a
// value (the colour 10 of code 62, say) from ever being taken for a code.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/common/text_cursor.h"
#include "formats/dxf/dxf.h"
#include "model/mesh.h"

namespace rv {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Lines with every space and tab removed (writers pad codes to the right, "  10"). A line ends at
// LF, CR LF or a lone CR.
class DxfLines {
public:
    explicit DxfLines(std::string_view text) : text_(text) {}

    // False at the end of the file. The view stays valid until the next call.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size())
            return false;
        start_ = pos_;
        const char* p = text_.data() + pos_;
        const char* const end = text_.data() + text_.size();
        while (p != end && isBlank(*p))
            ++p;
        const char* const first = p;
        const char* last = p;  // one past the last character that is not a blank
        bool blankAfterText = false;
        while (p != end) {
            const auto c = static_cast<unsigned char>(*p++);
            // Printing characters sort above the space: one compare in the common case.
            if (c > ' ') {
                last = p;
            } else if (c == '\n' || c == '\r') {
                if (c == '\r' && p != end && *p == '\n')
                    ++p;
                break;
            } else if (isBlank(char(c))) {
                blankAfterText = true;
            } else {
                last = p;
            }
        }
        pos_ = std::size_t(p - text_.data());
        line = std::string_view(first, std::size_t(last - first));
        // Blanks inside a line are rare: copy only then.
        if (blankAfterText && line.find_first_of(" \t") != std::string_view::npos) {
            squeezed_.clear();
            for (char c : line) {
                if (!isBlank(c))
                    squeezed_.push_back(c);
            }
            line = squeezed_;
        }
        return true;
    }

    // Passes over the next line; false at the end of the file.
    bool skip() {
        if (pos_ >= text_.size())
            return false;
        start_ = pos_;
        const char* p = text_.data() + pos_;
        const char* const end = text_.data() + text_.size();
        for (;;) {
            while (p != end && static_cast<unsigned char>(*p) > '\r')
                ++p;
            if (p == end)
                break;
            const char c = *p++;
            if (c == '\n')
                break;
            if (c == '\r') {
                if (p != end && *p == '\n')
                    ++p;
                break;
            }
        }
        pos_ = std::size_t(p - text_.data());
        return true;
    }

    // Passes over lines that hold nothing but spaces and tabs.
    void skipBlankLines() {
        std::size_t p = pos_;
        for (;;) {
            while (p < text_.size() && isBlank(text_[p]))
                ++p;
            if (p >= text_.size() || (text_[p] != '\n' && text_[p] != '\r'))
                return;
            if (text_[p] == '\r' && p + 1 < text_.size() && text_[p + 1] == '\n')
                ++p;
            pos_ = ++p;
        }
    }

    std::size_t lineStart() const { return start_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t start_ = 0;
    std::string squeezed_;
};

struct DxfPair {
    int code = 0;
    std::string_view value;
    std::size_t codeOffset = 0, valueOffset = 0;
};

// A group code: a whole integer.
bool codeOf(std::string_view line, int& code) {
    // Codes are short digit strings: the common case needs no general parse.
    if (line.size() <= 4) {
        int value = 0;
        bool digits = true;
        for (char c : line) {
            digits &= c >= '0' && c <= '9';
            value = value * 10 + (c - '0');
        }
        if (digits) {
            code = value;
            return true;
        }
    }
    const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), code);
    return ec == std::errc() && ptr == line.data() + line.size();
}

constexpr int kCoordinateCodes = 12;

// Index 0..11 of a 3DFACE coordinate code (x of corners 1..4, then y, then z), or -1.
int coordinateSlot(int code) {
    if (code >= 10 && code <= 13)
        return code - 10;
    if (code >= 20 && code <= 23)
        return 4 + code - 20;
    if (code >= 30 && code <= 33)
        return 8 + code - 30;
    return -1;
}

// True for the group codes whose value is a number (integer, float or flag) by the DXF group code
// table. Such a value is never empty, so blank lines before it are padding; a string value may be
// empty and its blank line is the value.
bool hasNumericValue(int code) {
    return (code >= 10 && code <= 99 && !(code >= 80 && code <= 89)) || (code >= 110 && code <= 149) ||
           (code >= 160 && code <= 179) || (code >= 210 && code <= 239) || (code >= 270 && code <= 299) ||
           (code >= 370 && code <= 389) || (code >= 400 && code <= 409) || (code >= 420 && code <= 429) ||
           (code >= 440 && code <= 469) || (code >= 1010 && code <= 1071);
}

// A coordinate value as "%f" reads it: the leading number, rest ignored. False when there is no
// number or it does not fit a float.
bool coordinateOf(std::string_view s, float& out) {
    float value = 0;
    if (takeLeadingFloat(s, value) != LeadingNumber::Read || !std::isfinite(value))
        return false;
    out = value;
    return true;
}

// Reads the next code/value pair. Empty lines before a code or a numeric value are skipped; a
// string value may be empty. A code line that is not a number is passed over on its own, which finds the
// pairs again after a stray line. False at the end of the file. With `entitiesOnly`, values of
// codes other than 0 are passed over unread.
bool nextPair(DxfLines& in, DxfPair& pair, bool entitiesOnly = false) {
    std::string_view line;
    for (;;) {
        if (!in.next(line))
            return false;
        if (line.empty())
            continue;
        int code = 0;
        if (!codeOf(line, code))
            continue;
        pair.code = code;
        pair.codeOffset = in.lineStart();
        break;
    }
    if (hasNumericValue(pair.code))
        in.skipBlankLines();
    if (entitiesOnly && pair.code != 0) {
        in.skip();
        pair.value = {};
        return true;
    }
    if (!in.next(line))
        line = {};
    pair.value = line;
    pair.valueOffset = in.lineStart();
    return true;
}

int codeOfSlot(int slot) { return 10 * (1 + slot / 4) + slot % 4; }

bool isFaceStart(const DxfPair& pair) { return pair.code == 0 && pair.value == "3DFACE"; }

using DxfFace = std::array<float, kCoordinateCodes>;

struct DxfReader {
    std::string_view text;

    FormatError error(std::size_t offset, std::string reason) const {
        return TextCursor(text).errorAt(offset, std::move(reason));
    }

    std::size_t countFaces() const {
        DxfLines in(text);
        DxfPair pair;
        std::size_t count = 0;
        while (nextPair(in, pair, true)) {
            if (isFaceStart(pair))
                ++count;
        }
        return count;
    }

    // Reads the pairs of one 3DFACE up to the next entity; `pair` is left on that entity's first
    // pair. Every coordinate code must come once, in any order (LightWave writes 13 .. 10).
    std::optional<FormatError> readFace(DxfLines& in, DxfPair& pair, bool& more, std::size_t faceOffset,
                                        DxfFace& face) const {
        unsigned seen = 0;
        while ((more = nextPair(in, pair)) && pair.code != 0) {
            const int slot = coordinateSlot(pair.code);
            if (slot < 0)
                continue;
            if (seen & (1u << slot))
                return error(pair.codeOffset, "a 3DFACE has code " + std::to_string(pair.code) + " twice");
            if (!coordinateOf(pair.value, face[slot]))
                return error(pair.valueOffset, "value \"" + std::string(pair.value) + "\" of code " +
                                                   std::to_string(pair.code) + " is not a usable number");
            seen |= 1u << slot;
        }
        for (int slot = 0; slot < kCoordinateCodes; ++slot) {
            if (!(seen & (1u << slot)))
                return error(faceOffset, "a 3DFACE has no code " + std::to_string(codeOfSlot(slot)));
        }
        return std::nullopt;
    }

    std::optional<FormatError> readFaces(std::vector<DxfFace>& faces) const {
        DxfLines in(text);
        DxfPair pair;
        bool more = nextPair(in, pair);
        while (more) {
            if (!isFaceStart(pair)) {
                more = nextPair(in, pair);
                continue;
            }
            DxfFace face{};
            if (auto err = readFace(in, pair, more, pair.codeOffset, face))
                return err;
            faces.push_back(face);
        }
        return std::nullopt;
    }
};

void buildModel(const std::vector<DxfFace>& faces, Model& model) {
    model.positions.clear();
    model.positions.reserve(faces.size() * 4);
    model.polygons.assign(faces.size(), ModelPolygon{});
    // The corners go in as DXF corners 3, 2, 1, 4: the reverse of the file's turning sense.
    static constexpr std::array<int, 4> kCornerOrder{2, 1, 0, 3};
    for (std::size_t k = 0; k < faces.size(); ++k) {
        const DxfFace& face = faces[k];
        ModelPolygon& polygon = model.polygons[k];
        polygon.cornerCount = 4;
        polygon.group = 0;
        for (int c = 0; c < 4; ++c) {
            const int corner = kCornerOrder[c];
            model.positions.push_back({face[corner], face[4 + corner], face[8 + corner]});
            polygon.corners[c] = ModelCorner{static_cast<std::int32_t>(4 * k + c), 0, 0, 0};
        }
    }
    model.skin.assign(model.positions.size(), ModelSkinWeight{});
    model.colors.assign(1, ModelColor{255, 255, 255, 255});
    model.uvs.assign(1, ModelUV{});
    ModelGroup& group = model.groups[0];
    group.materialParams[4] = 1;
    group.shadeParam = 3;
    group.color = {200, 200, 200, 255};
    model.renderModeDirty = 1;
}

}  // namespace

std::optional<FormatError> readDxf(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    const DxfReader reader{std::string_view(reinterpret_cast<const char*>(file.data()), file.size())};
    // First pass: count, so that nothing is allocated for a file that will be refused.
    const std::size_t count = reader.countFaces();
    // Both refusals come after reading the whole file: no line to name.
    if (count == 0)
        return FormatError::atByte(file.size(), "the file holds no 3DFACE entity");
    if (count > std::size_t(kMaxPolygons))
        return FormatError::atByte(file.size(), "3DFACE count " + std::to_string(count) + " is over the limit of " +
                                                    std::to_string(kMaxPolygons));
    std::vector<DxfFace> faces;
    faces.reserve(count);
    if (auto err = reader.readFaces(faces))
        return err;
    if (!ctx.path.empty())
        model.fileName = ctx.path;
    buildModel(faces, model);
    computeNormals(model);
    return std::nullopt;
}

}  // namespace rv
