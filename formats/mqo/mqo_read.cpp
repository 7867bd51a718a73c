// Metasequoia text files: the material list, and every object's vertices, mirror setting and
// faces. Everything else in the file (scene, transforms, shading, bones, vertex attributes) is
// skipped.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "formats/common/byte_cursor.h"
#include "formats/common/text_cursor.h"
#include "formats/mqo/mqo.h"
#include "formats/mqo/mqo_tokenizer.h"
#include "model/mesh.h"
#include "runtime/log.h"
#include "runtime/paths.h"

namespace rv {
namespace {

constexpr int kMaxMaterials = 256;
constexpr int kMaxObjectVertices = 160000;  // a larger vertex chunk is skipped with its object
constexpr float kUnitScale = 0.1f;

bool isEndLine(std::string_view line) { return line.starts_with("Eof") || line.starts_with("eof"); }

// True when the line opens a nested chunk ("vertexattr {", "uid {").
bool opensChunk(std::string_view line) {
    line = trimBlanks(line);
    return !line.empty() && line.back() == '{';
}

bool isSjisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); }

// The part after the last '\' of a Shift-JIS path; a '\' byte that is the second half of a
// double-byte character (as in "表" or "ソ") is not a separator.
std::string_view afterLastBackslash(std::string_view sjis) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < sjis.size(); ++i) {
        if (isSjisLead(static_cast<unsigned char>(sjis[i])))
            ++i;
        else if (sjis[i] == '\\')
            start = i + 1;
    }
    return sjis.substr(start);
}

struct MqoReader {
    TextCursor cur;
    Model& model;
    ReadContext& ctx;

    bool utf8 = false;  // "CodePage utf8": names are converted to Shift-JIS
    int materialCount = 0;  // groups filled from the Material chunk
    int highestGroup = -1;  // highest group a face or a mirror line refers to
    int lastTexture = 0;
    std::array<int, kMaxMaterials> materialTexture{};  // texture number of each material, 0 none
    int objectIndex = -1;
    std::size_t lineStart = 0;

    // Binary vertex blocks seen so far: the line-end bytes inside them end no lines.
    struct BinaryBlock {
        std::size_t end = 0;
        std::uint32_t lineEnds = 0;
    };
    std::vector<BinaryBlock> binaryBlocks;

    // Scratch of one face line, kept between lines.
    std::vector<std::int32_t> indices;
    std::vector<float> uvNumbers;
    std::vector<ModelCorner> corners;

    MqoReader(std::span<const std::byte> file, Model& m, ReadContext& c) : cur(file), model(m), ctx(c) {}

    FormatError fail(std::string reason) const {
        std::uint32_t line = cur.lineAt(lineStart);
        for (const BinaryBlock& block : binaryBlocks)
            line -= block.end <= lineStart ? block.lineEnds : 0;
        return FormatError::atLine(line, lineStart, std::move(reason));
    }

    bool nextLine(std::string_view& line) {
        if (cur.atEnd())
            return false;
        lineStart = cur.offset();
        line = cur.readLine();
        return true;
    }

    void ensureGroups(int count) {
        if (model.groupCount() < count)
            model.groups.resize(std::size_t(count));
    }

    // A name as the model keeps it: Shift-JIS, at most kMaxNameBytes bytes.
    std::optional<FormatError> modelName(std::string_view text, const char* what, std::string& out) {
        if (utf8) {
            bool lossy = false;
            out = utf8ToSjisLossy(text, &lossy);
            if (lossy)
                LogLine("MQO: %s \"%.*s\" has characters Shift-JIS cannot hold; they became '?'", what,
                        int(std::min<std::size_t>(text.size(), 200)), text.data());
        } else {
            out.assign(text);
        }
        if (out.size() > std::size_t(kMaxNameBytes))
            return fail(std::string(what) + " of " + std::to_string(out.size()) + " bytes is longer than " +
                        std::to_string(kMaxNameBytes));
        return std::nullopt;
    }

    std::optional<FormatError> read();
    std::optional<FormatError> readMaterials(std::string_view header);
    std::optional<FormatError> readTexture(std::string_view token, int material);
    std::optional<FormatError> readObject();
    std::optional<FormatError> readVertices(int count);
    std::optional<FormatError> readBinaryVertices(int count, bool& dropped);
    std::optional<FormatError> readFace(std::string_view line, int vertexBase);
    std::optional<FormatError> addPolygon(int cornerCount, const ModelCorner* source, int group);
    void finish();
};

std::optional<FormatError> MqoReader::read() {
    model.colors.assign(1, ModelColor{255, 255, 255, 255});
    model.uvs.assign(1, ModelUV{0, 0});

    std::string_view line;
    // Two header lines, then the chunks.
    bool more = nextLine(line) && nextLine(line) && nextLine(line);
    while (more && !isEndLine(line)) {
        std::string_view rest = line;
        const auto first = nextMqoToken(rest);
        if (first == "Material") {
            if (auto error = readMaterials(line))
                return error;
        } else if (first == "Object") {
            if (auto error = readObject())
                return error;
        } else if (first == "CodePage") {
            const auto page = nextMqoToken(rest);
            utf8 = page && (equalsIgnoreCase(*page, "utf8") || equalsIgnoreCase(*page, "utf-8"));
        }
        more = nextLine(line);
    }
    finish();
    return std::nullopt;
}

std::optional<FormatError> MqoReader::readMaterials(std::string_view header) {
    std::string_view rest = header;
    nextMqoToken(rest);
    const auto countToken = nextMqoToken(rest);
    std::int32_t count = 0;
    if (!countToken || !parseInt(*countToken, count) || count < 0)
        return fail("the Material chunk has no material count");
    if (count > kMaxMaterials)
        return fail("material count " + std::to_string(count) + " is over the limit of " +
                    std::to_string(kMaxMaterials));

    for (int i = 0; i < count; ++i) {
        std::string_view line;
        if (!nextLine(line))
            break;
        rest = line;
        if (trimBlanks(line).starts_with('}'))
            break;
        const auto nameToken = nextMqoToken(rest);
        ensureGroups(i + 1);
        materialCount = std::max(materialCount, i + 1);
        materialTexture[std::size_t(i)] = 0;
        {
            ModelGroup& group = model.groups[std::size_t(i)];
            group.textureIndex = 0;
            group.color = ModelColor{255, 255, 255, 255};
            if (auto error = modelName(nameToken.value_or(std::string_view()), "material name", group.name))
                return error;
        }
        while (const auto token = nextMqoToken(rest)) {
            if (token->starts_with("col")) {
                // Whitespace-separated decimals: exporters write "%f" or "1 1 1 1" as well as the
                // usual five-character layout. A component that is missing stays 255.
                std::string_view numbers = mqoArguments(*token);
                ModelColor& color = model.groups[std::size_t(i)].color;
                for (float* component : {&color.red, &color.green, &color.blue, &color.alpha}) {
                    float value = 0;
                    if (!takeFloat(numbers, value))
                        break;
                    *component = float(double(value) * 255.0);
                }
            } else if (token->starts_with("tex")) {
                if (auto error = readTexture(*token, i))
                    return error;
            }
        }
    }
    return std::nullopt;
}

std::optional<FormatError> MqoReader::readTexture(std::string_view token, int material) {
    std::string_view text = mqoArguments(token);
    if (text.starts_with('"')) {
        text.remove_prefix(1);
        text = text.substr(0, text.find('"'));
    }
    if (text.empty())
        return std::nullopt;
    std::string path;
    if (auto error = modelName(text, "texture path", path))
        return error;
    if (lastTexture >= kMaxTextureNumber)
        return fail("more than " + std::to_string(kMaxTextureNumber) + " textured materials");
    const int entry = ++lastTexture;
    model.textures.resize(std::size_t(entry) + 1);
    ModelTexture& texture = model.textures[std::size_t(entry)];
    texture.kind = 1;
    texture.fileName = std::string(afterLastBackslash(path));
    ModelGroup& group = model.groups[std::size_t(material)];
    group.textureIndex = entry;
    group.textured = 1;
    materialTexture[std::size_t(material)] = entry;
    return std::nullopt;
}

std::optional<FormatError> MqoReader::readObject() {
    ++objectIndex;
    const int vertexBase = model.positionCount();
    int depth = 1;
    std::string_view line;
    while (nextLine(line)) {
        std::string_view rest = line;
        const auto first = nextMqoToken(rest);
        if (!first)
            continue;
        if (*first == "mirror") {
            if (objectIndex >= kMaxMaterials)
                return fail("mirror on object " + std::to_string(objectIndex) + " is over the limit of " +
                            std::to_string(kMaxMaterials) + " groups");
            ensureGroups(objectIndex + 1);
            model.groups[std::size_t(objectIndex)].materialParams[kMirrorWord] = 1;
            highestGroup = std::max(highestGroup, objectIndex);
        } else if (*first == "vertex") {
            const auto countToken = nextMqoToken(rest);
            std::int32_t count = 0;
            if (!countToken || !parseInt(*countToken, count) || count < 0)
                return fail("the vertex chunk has no vertex count");
            // Too many for one object: the object is dropped and its lines are skipped.
            if (count > kMaxObjectVertices)
                return std::nullopt;
            ++depth;
            if (auto error = readVertices(count))
                return error;
        } else if (*first == "face") {
            const auto countToken = nextMqoToken(rest);
            std::int32_t count = 0;
            if (!countToken || !parseInt(*countToken, count) || count < 0)
                return fail("the face chunk has no face count");
            ++depth;
            for (std::int32_t f = 0; f < count && nextLine(line); ++f) {
                if (auto error = readFace(line, vertexBase))
                    return error;
            }
        } else if (*first == "BVertex") {
            const auto countToken = nextMqoToken(rest);
            std::int32_t count = 0;
            if (!countToken || !parseInt(*countToken, count) || count < 0)
                return fail("the BVertex chunk has no vertex count");
            bool dropped = false;
            if (auto error = readBinaryVertices(count, dropped))
                return error;
            if (dropped)
                return std::nullopt;
        } else if (first->starts_with('}')) {
            if (--depth == 0)
                return std::nullopt;
        } else if (opensChunk(line)) {
            ++depth;
        }
    }
    return std::nullopt;
}

std::optional<FormatError> MqoReader::readVertices(int count) {
    if (count > kMaxTableEntries - model.positionCount())
        return fail("vertex count " + std::to_string(count) + " takes the model past " +
                    std::to_string(kMaxTableEntries) + " positions");
    model.positions.reserve(model.positions.size() + std::size_t(count));
    model.skin.reserve(model.skin.size() + std::size_t(count));
    std::string_view line;
    for (int v = 0; v < count && nextLine(line); ++v) {
        float x = 0, y = 0, z = 0;
        if (!takeFloat(line, x) || !takeFloat(line, y) || !takeFloat(line, z))
            return fail("vertex line does not hold three numbers");
        model.positions.push_back(ModelVertex{x * kUnitScale, y * kUnitScale, z * -kUnitScale});
        model.skin.push_back(ModelSkinWeight{});
    }
    return std::nullopt;
}

// The block of a BVertex chunk: a line "Vector N [S]", then from the start of the next line S bytes
// of little-endian floats x, y, z per vertex, then the chunk's "}" (right after them or on the
// next line). The bytes are stepped over, never read as lines.
std::optional<FormatError> MqoReader::readBinaryVertices(int count, bool& dropped) {
    std::string_view line;
    if (!nextLine(line))
        return fail("the file ends inside the BVertex chunk");
    std::string_view rest = line;
    const auto keyword = nextMqoToken(rest);
    const auto countToken = nextMqoToken(rest);
    const auto sizeToken = nextMqoToken(rest);
    std::int32_t vectors = 0, size = 0;
    if (keyword != "Vector" || !countToken || !parseInt(*countToken, vectors) || !sizeToken ||
        !sizeToken->starts_with('[') || !sizeToken->ends_with(']') ||
        !parseInt(sizeToken->substr(1, sizeToken->size() - 2), size))
        return fail("the BVertex chunk has no \"Vector N [S]\" line");
    if (vectors != count)
        return fail("BVertex count " + std::to_string(count) + " and Vector count " + std::to_string(vectors) +
                    " differ");
    if (std::int64_t(size) != std::int64_t(count) * 12)
        return fail("binary vertex block of " + std::to_string(size) + " bytes does not hold " + std::to_string(count) +
                    " vertices of 12 bytes");
    const std::size_t start = cur.offset();
    if (std::size_t(size) > cur.text().size() - start)
        return fail("the file ends inside the binary vertex block of " + std::to_string(size) + " bytes");

    // Too many for one object: dropped as a text vertex chunk is, once past the bytes.
    dropped = count > kMaxObjectVertices;
    if (!dropped) {
        if (count > kMaxTableEntries - model.positionCount())
            return fail("vertex count " + std::to_string(count) + " takes the model past " +
                        std::to_string(kMaxTableEntries) + " positions");
        ByteCursor block(std::as_bytes(std::span(cur.text().substr(start, std::size_t(size)))));
        model.positions.reserve(model.positions.size() + std::size_t(count));
        model.skin.resize(model.skin.size() + std::size_t(count));
        for (int v = 0; v < count; ++v) {
            const float x = block.f32(), y = block.f32(), z = block.f32();
            model.positions.push_back(ModelVertex{x * kUnitScale, y * kUnitScale, z * -kUnitScale});
        }
    }

    const std::size_t vectorLine = lineStart;
    const std::string_view bytes = cur.text().substr(start, std::size_t(size));
    binaryBlocks.push_back({start + bytes.size(), TextCursor(bytes).lineAt(bytes.size()) - 1});
    cur.seek(start + std::size_t(size));
    std::string_view close = cur.readLine();
    if (close.empty() && !cur.atEnd())
        close = cur.readLine();
    lineStart = vectorLine;
    if (!trimBlanks(close).starts_with('}'))
        return fail("the binary vertex block of " + std::to_string(count) + " vertices is not followed by \"}\"");
    return std::nullopt;
}

std::optional<FormatError> MqoReader::readFace(std::string_view line, int vertexBase) {
    std::string_view rest = line;
    const auto countToken = nextMqoToken(rest);
    std::int32_t cornerCount = 0;
    // Lines of fewer than two corners (or no count) take no polygon.
    if (!countToken || !parseInt(*countToken, cornerCount) || cornerCount < 2)
        return std::nullopt;

    std::string_view vertexText, uvText;
    bool hasUv = false;
    std::int32_t material = 0;
    while (const auto token = nextMqoToken(rest)) {
        if (token->starts_with("V(")) {
            vertexText = mqoArguments(*token);
        } else if (token->starts_with("M(")) {
            if (!parseInt(mqoArguments(*token), material))
                return fail("material index " + std::string(token->substr(0, 40)) + " is not a number");
        } else if (token->starts_with("UV(")) {
            uvText = mqoArguments(*token);
            hasUv = true;
        }
    }
    if (material < 0 || material >= kMaxMaterials)
        return fail("material index " + std::to_string(material) + " is outside 0 to " +
                    std::to_string(kMaxMaterials - 1));

    indices.clear();
    const int objectVertices = model.positionCount() - vertexBase;
    for (std::int32_t index = 0; std::int32_t(indices.size()) < cornerCount && takeInt(vertexText, index);) {
        if (index < 0 || index >= objectVertices)
            return fail("face refers to vertex " + std::to_string(index) + " of an object with " +
                        std::to_string(objectVertices) + " vertices");
        indices.push_back(index + vertexBase);
    }
    if (std::int32_t(indices.size()) < cornerCount)
        return fail("face of " + std::to_string(cornerCount) + " corners lists " + std::to_string(indices.size()) +
                    " vertices");

    const int texture = materialTexture[std::size_t(material)];
    int firstUv = 0;
    if (texture != 0) {
        if (cornerCount > kMaxTableEntries - model.uvCount())
            return fail("texture coordinates take the model past " + std::to_string(kMaxTableEntries) + " entries");
        uvNumbers.clear();
        for (float value = 0; hasUv && std::int32_t(uvNumbers.size()) < 2 * cornerCount && takeFloat(uvText, value);)
            uvNumbers.push_back(value);
        uvNumbers.resize(std::size_t(2 * cornerCount), 0.0f);  // a line without UV(...) gives (0, 0)
        firstUv = model.uvCount();
        for (std::int32_t c = 0; c < cornerCount; ++c)
            model.uvs.push_back(ModelUV{uvNumbers[std::size_t(2 * c)], uvNumbers[std::size_t(2 * c + 1)]});
    }

    corners.assign(std::size_t(cornerCount), ModelCorner{});
    for (std::int32_t c = 0; c < cornerCount; ++c) {
        corners[std::size_t(c)].position = indices[std::size_t(c)];
        corners[std::size_t(c)].uv = texture != 0 ? firstUv + c : 0;
    }
    highestGroup = std::max(highestGroup, int(material));
    if (cornerCount <= kMaxCorners)
        return addPolygon(cornerCount, corners.data(), material);
    // Larger faces become a fan of triangles (0, k+1, k+2).
    for (std::int32_t k = 0; k + 2 < cornerCount; ++k) {
        const ModelCorner fan[3] = {corners[0], corners[std::size_t(k + 1)], corners[std::size_t(k + 2)]};
        if (auto error = addPolygon(3, fan, material))
            return error;
    }
    return std::nullopt;
}

std::optional<FormatError> MqoReader::addPolygon(int cornerCount, const ModelCorner* source, int group) {
    if (model.polygonCount() >= kMaxPolygons)
        return fail("polygon count is over the limit of " + std::to_string(kMaxPolygons));
    ModelPolygon& polygon = model.polygons.emplace_back();
    polygon.cornerCount = std::uint8_t(cornerCount);
    std::copy(source, source + cornerCount, polygon.corners.begin());
    polygon.group = group;
    return std::nullopt;
}

void MqoReader::finish() {
    const int groupCount = std::max({1, materialCount, highestGroup + 1});
    model.groups.resize(std::size_t(groupCount));
    for (ModelGroup& group : model.groups)
        group.edgeParam = 10;
    model.textures.resize(std::size_t(lastTexture) + 1);
    computeNormals(model);
    model.renderModeDirty = 1;
}

}  // namespace

std::optional<FormatError> readMqo(std::span<const std::byte> file, Model& model, ReadContext& ctx) {
    MqoReader reader(file, model, ctx);
    return reader.read();
}

}  // namespace rv
