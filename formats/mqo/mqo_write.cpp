// Metasequoia text files ("Format Text Ver 1.0"): one material per group, and objects holding the
// faces, with every number written so that our reader gets the model's floats back.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "formats/common/export_support.h"
#include "formats/common/float_text.h"
#include "formats/mqo/mqo.h"

namespace rv {
namespace {

constexpr float kUnitScale = 0.1f;  // what the reader multiplies file units by
constexpr std::size_t kMaxObjectVertices = 160000;  // the reader skips larger objects
constexpr std::size_t kMaxMqoMaterials = 256;  // and refuses more materials
constexpr std::string_view kEol = "\r\n";  // Metasequoia writes CRLF

void appendInt(std::string& out, std::int64_t value) {
    char buffer[24];
    out.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

// The shortest decimal that reads back as `value`.
std::string_view shortestText(float value, char (&buffer)[kFloatTextChars]) {
    return {buffer, std::size_t(formatShortestFloat(buffer, value) - buffer)};
}

void appendFloat(std::string& out, float value) {
    char buffer[kFloatTextChars];
    out += shortestText(value, buffer);
}

// Of the floats next to `guess`, the one the reader turns into `value` (`read` is what it does
// with a float it has parsed), written shortest; where none does, the one that comes nearest.
template <typename Read>
void appendReadBack(std::string& out, float value, float guess, Read read) {
    constexpr int kCandidates = 7;
    float candidates[kCandidates];
    double errors[kCandidates];
    float candidate = guess;
    for (int i = 0; i < kCandidates / 2; ++i)
        candidate = std::nextafter(candidate, -std::numeric_limits<float>::infinity());
    double bestError = std::numeric_limits<double>::infinity();
    for (int i = 0; i < kCandidates;
         ++i, candidate = std::nextafter(candidate, std::numeric_limits<float>::infinity())) {
        candidates[i] = candidate;
        errors[i] = std::fabs(double(read(candidate)) - double(value));
        bestError = std::min(bestError, errors[i]);
    }
    // Only the best candidates are turned into text, the shortest kept.
    char buffer[kFloatTextChars], best[kFloatTextChars];
    std::size_t bestSize = SIZE_MAX;
    for (int i = 0; i < kCandidates; ++i) {
        if (errors[i] != bestError)
            continue;
        const std::string_view text = shortestText(candidates[i], buffer);
        if (text.size() < bestSize) {
            bestSize = text.size();
            std::copy(text.begin(), text.end(), best);
        }
    }
    out.append(best, bestSize);
}

// A coordinate the reader multiplies by `scale` in float.
void appendScaled(std::string& out, float value, float scale) {
    if (!std::isfinite(value))
        value = 0;
    appendReadBack(out, value, float(double(value) / double(scale)), [scale](float f) { return f * scale; });
}

// A col() component: the reader multiplies the float it reads by 255 in double. Three places as
// Metasequoia writes them where they give `value` back.
void appendColorComponent(std::string& out, float value) {
    value = std::isnan(value) ? 0.0f : std::clamp(value, 0.0f, 255.0f);
    const auto read = [](float f) { return float(double(f) * 255.0); };
    const double fraction = double(value) / 255.0;
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, fraction, std::chars_format::fixed, 3).ptr;
    float parsed = 0;
    std::from_chars(buffer, end, parsed);
    if (read(parsed) == value)
        out.append(buffer, end);
    else
        appendReadBack(out, value, float(fraction), read);
}

// Shift-JIS bytes as a quoted name: a '"' or a line break would end it early.
void appendQuoted(std::string& out, std::string_view name) {
    out += '"';
    for (char c : name)
        out += (c == '"' || c == '\r' || c == '\n') ? '_' : c;
    out += '"';
}

float drawnComponent(float color, float tint) { return tint == 255.0f ? color : color * tint / 255.0f; }

void writeMaterials(const Model& model, std::string& out, WriteContext& ctx) {
    if (model.groups.empty())
        return;
    out += "Material ";
    appendInt(out, std::int64_t(model.groups.size()));
    out += " {";
    out += kEol;
    for (const ModelGroup& group : model.groups) {
        out += '\t';
        appendQuoted(out, group.name);
        out += " col(";
        const ModelColor& c = group.color;
        const ModelColor& t = model.tint;
        appendColorComponent(out, drawnComponent(c.red, t.red));
        out += ' ';
        appendColorComponent(out, drawnComponent(c.green, t.green));
        out += ' ';
        appendColorComponent(out, drawnComponent(c.blue, t.blue));
        out += ' ';
        appendColorComponent(out, drawnComponent(c.alpha, t.alpha));
        out += ") dif(0.800) amb(0.600) emi(0.000) spc(0.000) power(5.00)";
        if (const ModelTexture* texture = groupTexture(model, group)) {
            out += " tex(";
            appendQuoted(out, texture->fileName);
            out += ')';
            ctx.namedImages.push_back({group.textureIndex, texture->fileName});
        }
        out += kEol;
    }
    out += '}';
    out += kEol;
}

struct MqoObject {
    bool mirror = false;
    std::vector<std::size_t> polygons;
};

int groupOf(const Model& model, const ModelPolygon& polygon) {
    return polygon.group >= 0 && polygon.group < model.groupCount() ? polygon.group : 0;
}

bool writable(const ModelPolygon& polygon) { return polygon.cornerCount >= 2 && polygon.cornerCount <= kMaxCorners; }

// Metasequoia mirrors whole objects, and our reader gives object k's mirror to group k: each
// mirrored group gets the object of its own number, the other groups fill the free numbers (as
// many objects as the reader's vertex limit needs) and free numbers between mirrored groups hold
// empty objects.
std::vector<MqoObject> planObjects(const Model& model) {
    std::vector<MqoObject> objects;
    for (std::size_t g = 0; g < model.groups.size(); ++g)
        if (model.groups[g].mirror()) {
            objects.resize(g + 1);
            objects[g].mirror = true;
        }
    std::size_t next = 0;  // the object the unmirrored faces go to
    auto nextFree = [&] {
        while (next < objects.size() && objects[next].mirror)
            ++next;
        if (next == objects.size())
            objects.emplace_back();
    };
    nextFree();
    std::vector<std::uint8_t> counted(model.positions.size() + 1, 0);
    std::size_t vertices = 0;
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const ModelPolygon& p = model.polygons[i];
        if (!writable(p))
            continue;
        const int g = groupOf(model, p);
        if (model.groups.empty() || !model.groups[std::size_t(g)].mirror()) {
            std::size_t added = 0;
            for (int c = 0; c < p.cornerCount; ++c) {
                const auto v = std::size_t(p.corners[std::size_t(c)].position);
                added += v < model.positions.size() && !counted[v];
            }
            if (vertices + added > kMaxObjectVertices) {
                ++next;
                nextFree();
                std::fill(counted.begin(), counted.end(), 0);
                vertices = 0;
                added = 0;
                for (int c = 0; c < p.cornerCount; ++c)
                    added += std::size_t(p.corners[std::size_t(c)].position) < model.positions.size();
            }
            for (int c = 0; c < p.cornerCount; ++c) {
                const auto v = std::size_t(p.corners[std::size_t(c)].position);
                if (v < model.positions.size())
                    counted[v] = 1;
            }
            vertices += added;
            objects[next].polygons.push_back(i);
        } else {
            objects[std::size_t(g)].polygons.push_back(i);
        }
    }
    return objects;
}

std::optional<FormatError> writeObject(const Model& model, const MqoObject& object, int number, std::string& out,
                                       std::vector<std::int32_t>& local) {
    // The object's vertices: the positions its faces use, in first-use order. A corner past the
    // table (a damaged model) takes a vertex at the origin. `local` (position to object vertex)
    // is all -1 between objects: only the slots used are set back, not the whole table per object.
    std::vector<std::int32_t> order;
    for (std::size_t i : object.polygons) {
        const ModelPolygon& p = model.polygons[i];
        for (int c = 0; c < p.cornerCount; ++c) {
            const std::int32_t v = p.corners[std::size_t(c)].position;
            const std::size_t slot =
                v >= 0 && std::size_t(v) < model.positions.size() ? std::size_t(v) : local.size() - 1;
            if (local[slot] < 0) {
                local[slot] = std::int32_t(order.size());
                order.push_back(std::int32_t(slot));
            }
        }
    }
    if (object.mirror && order.size() > kMaxObjectVertices) {
        for (std::int32_t slot : order)
            local[std::size_t(slot)] = -1;
        return FormatError::refusal("group " + std::to_string(number) + " uses " + std::to_string(order.size()) +
                                    " positions; a mirrored Metasequoia object holds at most " +
                                    std::to_string(kMaxObjectVertices) + " here");
    }

    out += "Object \"obj";
    appendInt(out, number + 1);
    out += "\" {";
    out += kEol;
    out += "\tdepth 0\r\n\tfolding 0\r\n\tscale 1.000000 1.000000 1.000000\r\n"
           "\trotation 0.000000 0.000000 0.000000\r\n\ttranslation 0.000000 0.000000 0.000000\r\n"
           "\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n\tfacet 59.5\r\n\tcolor 0.898 0.498 0.698\r\n"
           "\tcolor_type 0\r\n";
    if (object.mirror)
        out += "\tmirror 1\r\n\tmirror_axis 1\r\n";
    out += "\tvertex ";
    appendInt(out, std::int64_t(order.size()));
    out += " {";
    out += kEol;
    for (std::int32_t slot : order) {
        const ModelVertex v =
            std::size_t(slot) < model.positions.size() ? model.positions[std::size_t(slot)] : ModelVertex{};
        out += "\t\t";
        appendScaled(out, v.x, kUnitScale);
        out += ' ';
        appendScaled(out, v.y, kUnitScale);
        out += ' ';
        appendScaled(out, -v.z, kUnitScale);
        out += kEol;
    }
    out += "\t}";
    out += kEol;

    out += "\tface ";
    appendInt(out, std::int64_t(object.polygons.size()));
    out += " {";
    out += kEol;
    for (std::size_t i : object.polygons) {
        const ModelPolygon& p = model.polygons[i];
        const int group = groupOf(model, p);
        out += "\t\t";
        appendInt(out, p.cornerCount);
        out += " V(";
        for (int c = 0; c < p.cornerCount; ++c) {
            const std::int32_t v = p.corners[std::size_t(c)].position;
            const std::size_t slot =
                v >= 0 && std::size_t(v) < model.positions.size() ? std::size_t(v) : local.size() - 1;
            if (c > 0)
                out += ' ';
            appendInt(out, local[slot]);
        }
        out += ")";
        if (!model.groups.empty()) {
            out += " M(";
            appendInt(out, group);
            out += ')';
        }
        if (!model.groups.empty() && groupTexture(model, model.groups[std::size_t(group)])) {
            out += " UV(";
            for (int c = 0; c < p.cornerCount; ++c) {
                const std::int32_t k = p.corners[std::size_t(c)].uv;
                const ModelUV uv = k >= 0 && std::size_t(k) < model.uvs.size() ? model.uvs[std::size_t(k)] : ModelUV{};
                if (c > 0)
                    out += ' ';
                appendFloat(out, uv.u);
                out += ' ';
                appendFloat(out, uv.v);
            }
            out += ')';
        }
        out += kEol;
    }
    out += "\t}";
    out += kEol;
    out += '}';
    out += kEol;
    for (std::int32_t slot : order)
        local[std::size_t(slot)] = -1;
    return std::nullopt;
}

}  // namespace

std::optional<FormatError> writeMqo(const Model& model, WriteContext& ctx) {
    if (model.groups.size() > kMaxMqoMaterials)
        return FormatError::refusal("the model has " + std::to_string(model.groups.size()) +
                                    " groups; an MQO file holds at most " + std::to_string(kMaxMqoMaterials) +
                                    " materials");
    std::string out;
    out.reserve(4096 + model.positions.size() * 40 + model.polygons.size() * 80);
    out += "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\n";
    out += "Scene {\r\n\tpos 0.0000 0.0000 1500.0000\r\n\tlookat 0.0000 0.0000 0.0000\r\n\thead -0.5236\r\n"
           "\tpich 0.5236\r\n\tortho 0\r\n\tzoom2 5.0000\r\n\tamb 0.250 0.250 0.250\r\n}\r\n";
    writeMaterials(model, out, ctx);

    const std::vector<MqoObject> objects = planObjects(model);
    std::vector<std::int32_t> local(model.positions.size() + 1, -1);
    for (std::size_t k = 0; k < objects.size(); ++k)
        if (auto error = writeObject(model, objects[k], int(k), out, local))
            return error;
    out += "Eof";
    out += kEol;

    const long points = std::count_if(model.polygons.begin(), model.polygons.end(),
                                      [](const ModelPolygon& p) { return p.cornerCount == 1; });
    if (points > 0)
        ctx.warnings.push_back(ctx.outputPath + ": " + std::to_string(points) +
                               (points == 1 ? " point is" : " points are") + " not kept by MQO");
    if (model.vertexColorMode == 1)
        ctx.warnings.push_back(ctx.outputPath + ": vertex colours are not kept by MQO");

    const auto* bytes = reinterpret_cast<const std::byte*>(out.data());
    ctx.bytes.assign(bytes, bytes + out.size());
    return std::nullopt;
}

}  // namespace rv
