#include "formats/x/x_mesh.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <unordered_map>

namespace rv {

namespace {

using Matrix = std::array<double, 16>;  // row-major, row vectors: p' = p x M

constexpr Matrix kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix multiply(const Matrix& a, const Matrix& b) {
    Matrix r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0;
            for (int k = 0; k < 4; ++k)
                s += a[i * 4 + k] * b[k * 4 + j];
            r[i * 4 + j] = s;
        }
    return r;
}

// One Mesh object read on its own, before placing: vertices after the normal duplication,
// fan triangles sorted (stably) by material.
struct MeshPart {
    HugePageVector<std::array<float, 3>> positions, normals;
    HugePageVector<std::uint32_t> colors;
    HugePageVector<std::array<float, 2>> uvs;
    HugePageVector<std::array<std::uint32_t, 3>> triangles;
    HugePageVector<std::uint32_t> attributes;
    std::vector<XMaterial> materials;
};

// Reads an object's numbers in template order.
class Values {
public:
    Values(const XObject& o, const char* what) : o_(o), what_(what) {}

    std::size_t left() const { return o_.numbers.size() - at_; }
    bool count(std::uint32_t& out, std::optional<FormatError>& error, const char* member) {
        if (at_ >= o_.numbers.size()) {
            error = fail(std::string(member) + " is missing");
            return false;
        }
        const double v = o_.numbers[at_++];
        if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) {
            error = fail(std::string(member) + " is not a whole number");
            return false;
        }
        out = std::uint32_t(v);
        return true;
    }
    // Checks that `records` records of `each` values follow.
    bool fits(std::uint64_t records, std::size_t each, std::optional<FormatError>& error, const std::string& member) {
        if (each != 0 && records > left() / each) {
            error = fail(member + " " + std::to_string(records) + " passes the values that follow");
            return false;
        }
        return true;
    }
    float f() { return float(o_.numbers[at_++]); }
    double d() { return o_.numbers[at_++]; }
    FormatError fail(const std::string& reason) const {
        return FormatError::atByte(o_.offset, std::string(what_) + ": " + reason);
    }

private:
    const XObject& o_;
    const char* what_;
    std::size_t at_ = 0;
};

bool childIs(const XObject& o, const char* type) { return xSameName(o.type, type); }

std::optional<FormatError> readMaterial(const XDocument& doc, const XObject& o, XMaterial& m) {
    if (o.numbers.size() < 11)
        return FormatError::atByte(o.offset, "Material: " + std::to_string(o.numbers.size()) + " values instead of 11");
    const auto& v = o.numbers;
    m.diffuse = {float(v[0]), float(v[1]), float(v[2]), float(v[3])};
    m.power = float(v[4]);
    m.specular = {float(v[5]), float(v[6]), float(v[7])};
    m.emissive = {float(v[8]), float(v[9]), float(v[10])};
    for (std::uint32_t c : o.children) {
        const XObject& child = doc.objects[c];
        // Some exporters spell it "TextureFileName"; the last one counts.
        if (childIs(child, "TextureFilename") && !child.strings.empty()) {
            m.hasTexture = true;
            m.texture = std::string(child.strings.front());
        }
    }
    return std::nullopt;
}

XMaterial defaultMaterial() {
    XMaterial m;
    m.standIn = true;
    return m;
}

std::uint32_t floatBitsOf(double dword) { return std::uint32_t(dword); }

// The faces of a Mesh: corner vertex indices, each face a run of `size` corners from `start`.
struct MeshFaces {
    HugePageVector<std::uint32_t> start, size;
    HugePageVector<std::uint32_t> corners;
};

// The Mesh's own members: vertex positions and faces.
std::optional<FormatError> readVerticesAndFaces(const XObject& o, MeshPart& part, MeshFaces& faces) {
    std::optional<FormatError> error;
    Values val(o, "Mesh");
    std::uint32_t nV = 0, nF = 0;
    if (!val.count(nV, error, "vertex count") || !val.fits(nV, 3, error, "vertex count"))
        return error;
    part.positions.resize(nV);
    for (auto& p : part.positions)
        p = {val.f(), val.f(), val.f()};
    if (!val.count(nF, error, "face count") || !val.fits(nF, 1, error, "face count"))
        return error;
    faces.start.resize(nF);
    faces.size.resize(nF);
    faces.corners.reserve(std::min<std::size_t>(val.left(), std::size_t(nF) * 4));
    for (std::uint32_t f = 0; f < nF; ++f) {
        std::uint32_t n = 0;
        if (!val.count(n, error, "face size") || !val.fits(n, 1, error, "face " + std::to_string(f) + " size"))
            return error;
        faces.start[f] = std::uint32_t(faces.corners.size());
        faces.size[f] = n;
        for (std::uint32_t j = 0; j < n; ++j) {
            const double v = val.d();
            if (!(v >= 0 && v < double(nV)) || v != std::floor(v))
                return val.fail("face " + std::to_string(f) + " names vertex " + std::to_string(std::int64_t(v)) +
                                " of " + std::to_string(nV));
            faces.corners.push_back(std::uint32_t(v));
        }
    }
    return std::nullopt;
}

// The child objects of a Mesh that the reader uses; the first of each kind counts.
struct MeshChildren {
    const XObject* normals = nullptr;
    const XObject* uvs = nullptr;
    const XObject* colors = nullptr;
    const XObject* materials = nullptr;
    const XObject* decl = nullptr;
};

MeshChildren findChildren(const XDocument& doc, const XObject& o) {
    MeshChildren found;
    for (std::uint32_t c : o.children) {
        const XObject& child = doc.objects[c];
        if (!found.normals && childIs(child, "MeshNormals"))
            found.normals = &child;
        else if (!found.uvs && childIs(child, "MeshTextureCoords"))
            found.uvs = &child;
        else if (!found.colors && childIs(child, "MeshVertexColors"))
            found.colors = &child;
        else if (!found.materials && childIs(child, "MeshMaterialList"))
            found.materials = &child;
        else if (!found.decl && childIs(child, "DeclData"))
            found.decl = &child;
    }
    return found;
}

// MeshTextureCoords: one (u, v) per vertex; a short list still gives its vertices theirs.
std::optional<FormatError> readTextureCoords(const XObject& o, std::uint32_t nV, MeshPart& part) {
    std::optional<FormatError> error;
    Values uv(o, "MeshTextureCoords");
    std::uint32_t n = 0;
    if (!uv.count(n, error, "coordinate count") || !uv.fits(n, 2, error, "coordinate count"))
        return error;
    for (std::uint32_t k = 0; k < n; ++k) {
        const float u = uv.f(), v = uv.f();
        if (k < nV)
            part.uvs[k] = {u, v};
    }
    return std::nullopt;
}

// MeshVertexColors: (vertex index, r, g, b, a) records; vertices the list leaves out are white
// with alpha 0.
std::optional<FormatError> readVertexColors(const XObject& o, std::uint32_t nV, MeshPart& part) {
    std::optional<FormatError> error;
    Values col(o, "MeshVertexColors");
    std::uint32_t n = 0;
    if (!col.count(n, error, "colour count") || !col.fits(n, 5, error, "colour count"))
        return error;
    part.colors.assign(nV, 0x00FFFFFFu);
    for (std::uint32_t k = 0; k < n; ++k) {
        const double index = col.d();
        const float r = col.f(), g = col.f(), b = col.f(), a = col.f();
        if (index >= 0 && index < double(nV))
            part.colors[std::size_t(index)] = packXColor(r, g, b, a);
    }
    return std::nullopt;
}

// MeshNormals: a normal per face corner, with vertices duplicated where one vertex meets several
// normals; the face corners are re-pointed at the copies in place. Normals that do not match the
// faces are left out rather than failing the file (`applied` stays false).
std::optional<FormatError> readNormals(const XObject& o, MeshFaces& faces, MeshPart& part, bool& applied) {
    std::optional<FormatError> error;
    const std::size_t nV = part.positions.size();
    const std::size_t nF = faces.size.size();
    Values nv(o, "MeshNormals");
    std::uint32_t nN = 0, nFN = 0;
    if (!nv.count(nN, error, "normal count") || !nv.fits(nN, 3, error, "normal count"))
        return error;
    HugePageVector<std::array<float, 3>> normals(nN);
    for (auto& n : normals) {
        double x = nv.d(), y = nv.d(), z = nv.d();
        const double len = std::sqrt(x * x + y * y + z * z);
        if (len > 0)
            x /= len, y /= len, z /= len;
        n = {float(x), float(y), float(z)};
    }
    if (!nv.count(nFN, error, "face count") || !nv.fits(nFN, 1, error, "face count"))
        return error;
    HugePageVector<std::uint32_t> normalIndex;
    normalIndex.reserve(faces.corners.size());
    bool usable = nFN == nF;
    for (std::uint32_t f = 0; f < nFN; ++f) {
        std::uint32_t n = 0;
        if (!nv.count(n, error, "face size") || !nv.fits(n, 1, error, "face " + std::to_string(f) + " size"))
            return error;
        if (f < nF && n != faces.size[f])
            usable = false;
        for (std::uint32_t j = 0; j < n; ++j) {
            const double k = nv.d();
            if (!(k >= 0 && k < double(nN)))
                usable = false;
            else if (usable)
                normalIndex.push_back(std::uint32_t(k));
        }
    }
    if (!usable || normalIndex.size() != faces.corners.size())
        return std::nullopt;

    applied = true;
    constexpr std::uint32_t kNone = UINT32_MAX;
    HugePageVector<std::uint32_t> normalOf(nV, kNone);
    HugePageVector<std::uint32_t> nextCopy(nV, kNone);
    for (std::size_t c = 0; c < faces.corners.size(); ++c) {
        const std::uint32_t v = faces.corners[c];
        const std::uint32_t k = normalIndex[c];
        if (normalOf[v] == kNone) {
            normalOf[v] = k;
            continue;
        }
        std::uint32_t at = v, last = v;
        for (; at != kNone; last = at, at = nextCopy[at])
            if (normals[normalOf[at]] == normals[k])
                break;
        if (at != kNone) {
            faces.corners[c] = at;
            continue;
        }
        const std::uint32_t copy = std::uint32_t(part.positions.size());
        part.positions.push_back(part.positions[v]);
        part.colors.push_back(part.colors[v]);
        part.uvs.push_back(part.uvs[v]);
        normalOf.push_back(k);
        nextCopy.push_back(kNone);
        nextCopy[last] = copy;
        faces.corners[c] = copy;
    }
    part.normals.assign(part.positions.size(), {0, 0, 0});
    for (std::size_t v = 0; v < normalOf.size(); ++v)
        if (normalOf[v] != kNone)
            part.normals[v] = normals[normalOf[v]];
    return std::nullopt;
}

// DeclData stands in for the standard children it duplicates when those are absent: it fills
// uvs, colours or normals of the first nV vertices only where `have*` is false.
std::optional<FormatError> readDeclData(const XObject& o, std::uint32_t nV, bool haveUvs, bool haveColors,
                                        bool haveNormals, MeshPart& part) {
    std::optional<FormatError> error;
    Values dv(o, "DeclData");
    std::uint32_t nE = 0, nD = 0;
    if (!dv.count(nE, error, "element count") || !dv.fits(nE, 4, error, "element count"))
        return error;
    static constexpr std::uint32_t kTypeBytes[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    struct Element {
        std::uint32_t type, usage, usageIndex, offset;
    };
    std::vector<Element> elements;
    std::uint32_t stride = 0;
    bool known = true;
    for (std::uint32_t e = 0; e < nE; ++e) {
        const double type = dv.d(), method = dv.d(), usage = dv.d(), usageIndex = dv.d();
        (void)method;
        if (!(type >= 0 && type < 17)) {
            known = false;
            continue;
        }
        elements.push_back({std::uint32_t(type), std::uint32_t(usage), std::uint32_t(usageIndex), stride});
        stride += kTypeBytes[std::uint32_t(type)] / 4;
    }
    if (!dv.count(nD, error, "data count") || !dv.fits(nD, 1, error, "data count"))
        return error;
    std::vector<std::uint32_t> data(nD);
    for (auto& d : data)
        d = floatBitsOf(dv.d());
    if (!known || stride == 0 || std::uint64_t(stride) * nV > nD)
        return std::nullopt;
    auto asFloat = [&](std::size_t at) { return std::bit_cast<float>(data[at]); };
    for (const Element& e : elements) {
        if (e.usageIndex != 0)
            continue;
        for (std::uint32_t v = 0; v < nV; ++v) {
            const std::size_t at = std::size_t(v) * stride + e.offset;
            if (e.usage == 5 && e.type == 1 && !haveUvs)
                part.uvs[v] = {asFloat(at), asFloat(at + 1)};
            else if (e.usage == 10 && e.type == 4 && !haveColors)
                part.colors[v] = data[at];
            else if (e.usage == 3 && e.type == 2 && !haveNormals)
                part.normals[v] = {asFloat(at), asFloat(at + 1), asFloat(at + 2)};
        }
    }
    return std::nullopt;
}

// MeshMaterialList: the Material children into part.materials and each face's material.
std::optional<FormatError> readMaterialList(const XDocument& doc, const XObject& o, std::uint32_t nF, MeshPart& part,
                                            HugePageVector<std::uint32_t>& faceMaterial) {
    std::optional<FormatError> error;
    Values mv(o, "MeshMaterialList");
    std::uint32_t nM = 0, nI = 0;
    if (!mv.count(nM, error, "material count") || !mv.count(nI, error, "face index count") ||
        !mv.fits(nI, 1, error, "face index count"))
        return error;
    if (nM == 0)
        return std::nullopt;
    // Only the Material children that are there count; a face naming a material that is missing
    // (or past the count) takes material 0, as one index stands for every face and a short list
    // repeats its last index.
    for (std::uint32_t c : o.children) {
        const XObject& child = doc.objects[c];
        if (!childIs(child, "Material") || part.materials.size() >= nM)
            continue;
        XMaterial m;
        if (auto e = readMaterial(doc, child, m))
            return e;
        part.materials.push_back(std::move(m));
    }
    if (part.materials.empty())
        part.materials.push_back(defaultMaterial());
    const double count = double(part.materials.size());
    std::vector<std::uint32_t> listed(nI);
    for (auto& i : listed) {
        const double v = mv.d();
        i = (v >= 0 && v < count) ? std::uint32_t(v) : 0;
    }
    for (std::uint32_t f = 0; f < nF; ++f)
        faceMaterial[f] = listed.empty() ? 0 : listed[std::min<std::size_t>(f, listed.size() - 1)];
    return std::nullopt;
}

// Fan triangles of every face, sorted stably by material: each material's triangles start after
// those of the materials below it, so every triangle is written straight to its place.
void buildTriangles(const MeshFaces& faces, const HugePageVector<std::uint32_t>& faceMaterial, MeshPart& part) {
    const std::size_t materialCount = std::max<std::size_t>(part.materials.size(), 1);
    std::vector<std::size_t> start(materialCount + 1, 0);
    for (std::size_t f = 0; f < faces.size.size(); ++f)
        if (faces.size[f] > 2)
            start[faceMaterial[f] + 1] += faces.size[f] - 2;
    for (std::size_t m = 1; m <= materialCount; ++m)
        start[m] += start[m - 1];
    part.triangles.resize(start[materialCount]);
    part.attributes.resize(start[materialCount]);
    for (std::size_t f = 0; f < faces.size.size(); ++f) {
        const std::uint32_t* c = faces.corners.data() + faces.start[f];
        const std::uint32_t material = faceMaterial[f];
        for (std::uint32_t l = 0; l + 2 < faces.size[f]; ++l) {
            const std::size_t at = start[material]++;
            part.triangles[at] = {c[0], c[l + 1], c[l + 2]};
            part.attributes[at] = material;
        }
    }
}

std::optional<FormatError> readMesh(const XDocument& doc, const XObject& o, MeshPart& part) {
    MeshFaces faces;
    if (auto e = readVerticesAndFaces(o, part, faces))
        return e;
    const std::uint32_t nV = std::uint32_t(part.positions.size());
    const std::uint32_t nF = std::uint32_t(faces.size.size());
    const MeshChildren children = findChildren(doc, o);

    part.colors.assign(nV, 0);
    part.uvs.assign(nV, {0, 0});
    part.normals.assign(nV, {0, 0, 0});
    // Texture coordinates and colours come first: the normals copy them onto duplicated vertices.
    if (children.uvs)
        if (auto e = readTextureCoords(*children.uvs, nV, part))
            return e;
    if (children.colors)
        if (auto e = readVertexColors(*children.colors, nV, part))
            return e;
    bool haveNormals = false;
    if (children.normals)
        if (auto e = readNormals(*children.normals, faces, part, haveNormals))
            return e;
    const bool haveUvs = children.uvs != nullptr, haveColors = children.colors != nullptr;
    if (children.decl && (!haveUvs || !haveColors || !haveNormals))
        if (auto e = readDeclData(*children.decl, nV, haveUvs, haveColors, haveNormals, part))
            return e;

    HugePageVector<std::uint32_t> faceMaterial(nF, 0);
    if (children.materials)
        if (auto e = readMaterialList(doc, *children.materials, nF, part, faceMaterial))
            return e;
    buildTriangles(faces, faceMaterial, part);
    return std::nullopt;
}

struct Placement {
    std::uint32_t mesh;
    Matrix transform;
    bool identity;
};

class Walker {
public:
    Walker(const XDocument& doc, const XMeshLimits& limits) : doc_(doc), limits_(limits) {}

    std::optional<FormatError> run() {
        for (std::uint32_t top : doc_.topLevel) {
            const XObject& o = doc_.objects[top];
            if (childIs(o, "Mesh")) {
                if (auto e = place(top, kIdentity, true))
                    return e;
            } else if (childIs(o, "Frame")) {
                if (auto e = frame(top, kIdentity, true, 0))
                    return e;
            }
        }
        return std::nullopt;
    }

    std::vector<Placement> placements;

private:
    std::optional<FormatError> visit(const XObject& o) {
        if (++visits_ > limits_.maxPlacements)
            return FormatError::atByte(o.offset, "the file's frames place more than " +
                                                     std::to_string(limits_.maxPlacements) + " objects");
        return std::nullopt;
    }
    std::optional<FormatError> place(std::uint32_t mesh, const Matrix& m, bool identity) {
        if (auto e = visit(doc_.objects[mesh]))
            return e;
        placements.push_back({mesh, m, identity});
        return std::nullopt;
    }
    // A transform applies to the meshes after it in its frame; several accumulate. A child frame
    // starts from its parent's transform, its own matrix applied first (local, then parent).
    std::optional<FormatError> frame(std::uint32_t index, Matrix m, bool identity, int depth) {
        const XObject& o = doc_.objects[index];
        if (auto e = visit(o))
            return e;
        if (depth > kXMaxDepth)
            return FormatError::atByte(o.offset,
                                       "frames are nested deeper than " + std::to_string(kXMaxDepth) + " levels");
        for (std::uint32_t c : o.children) {
            const XObject& child = doc_.objects[c];
            if (childIs(child, "FrameTransformMatrix")) {
                if (child.numbers.size() < 16)
                    return FormatError::atByte(child.offset,
                                               "FrameTransformMatrix: " + std::to_string(child.numbers.size()) +
                                                   " values instead of 16");
                Matrix local;
                for (int k = 0; k < 16; ++k)
                    local[k] = child.numbers[k];
                if (local != kIdentity) {
                    m = multiply(local, m);
                    identity = false;
                }
            } else if (childIs(child, "Mesh")) {
                if (auto e = place(c, m, identity))
                    return e;
            } else if (childIs(child, "Frame")) {
                if (auto e = frame(c, m, identity, depth + 1))
                    return e;
            }
        }
        return std::nullopt;
    }

    const XDocument& doc_;
    const XMeshLimits& limits_;
    std::size_t visits_ = 0;
};

// Sizes the merged tables for every placement that will be kept, so that they are filled
// without growing (a grown table is copied, and its old and new blocks both touched).
void reserveMerged(const std::vector<Placement>& placements, const std::unordered_map<std::uint32_t, MeshPart>& parts,
                   const XMeshLimits& limits, XMesh& out) {
    std::size_t vertices = 0, triangles = 0;
    for (const Placement& p : placements) {
        const MeshPart& part = parts.at(p.mesh);
        if (triangles >= limits.maxTriangles)
            continue;
        vertices += part.positions.size();
        triangles += std::min(limits.maxTriangles - triangles, part.triangles.size());
    }
    vertices = std::min(vertices, limits.maxVertices);
    out.positions.reserve(vertices);
    out.normals.reserve(vertices);
    out.colors.reserve(vertices);
    out.uvs.reserve(vertices);
    out.triangles.reserve(triangles);
    out.attributes.reserve(triangles);
}

}  // namespace

std::uint32_t packXColor(float r, float g, float b, float a) {
    auto byte = [](float c) {
        if (!(c > 0))
            c = 0;
        if (c > 1)
            c = 1;
        return std::uint32_t(int(c * 255.0f + 0.5f));
    };
    return (byte(a) << 24) | (byte(r) << 16) | (byte(g) << 8) | byte(b);
}

std::optional<FormatError> buildXMesh(const XDocument& doc, XMesh& out, const XMeshLimits& limits) {
    out = XMesh{};
    Walker walker(doc, limits);
    if (auto e = walker.run())
        return e;
    if (walker.placements.empty())
        return FormatError::refusal("the file holds no mesh");

    std::unordered_map<std::uint32_t, MeshPart> parts;
    for (const Placement& p : walker.placements) {
        if (parts.count(p.mesh))
            continue;
        MeshPart part;
        if (auto e = readMesh(doc, doc.objects[p.mesh], part))
            return e;
        parts.emplace(p.mesh, std::move(part));
    }
    bool anyMaterials = false;
    for (const auto& [index, part] : parts)
        anyMaterials = anyMaterials || !part.materials.empty();
    reserveMerged(walker.placements, parts, limits, out);

    for (const Placement& p : walker.placements) {
        const MeshPart& part = parts.at(p.mesh);
        out.triangleCount += part.triangles.size();
        const std::uint32_t materialBase = std::uint32_t(out.materials.size());
        // A mesh without materials among meshes with materials gets a default one of its own.
        if (part.materials.empty()) {
            if (anyMaterials)
                out.materials.push_back(defaultMaterial());
        } else {
            out.materials.insert(out.materials.end(), part.materials.begin(), part.materials.end());
        }
        if (out.triangles.size() >= limits.maxTriangles)
            continue;  // nothing of this mesh is kept: its vertices are not needed either
        const std::size_t base = out.positions.size();
        if (part.positions.size() > limits.maxVertices - base)
            return FormatError::atByte(doc.objects[p.mesh].offset, "the file's meshes hold more than " +
                                                                       std::to_string(limits.maxVertices) +
                                                                       " vertices");
        out.positions.insert(out.positions.end(), part.positions.begin(), part.positions.end());
        out.normals.insert(out.normals.end(), part.normals.begin(), part.normals.end());
        out.colors.insert(out.colors.end(), part.colors.begin(), part.colors.end());
        out.uvs.insert(out.uvs.end(), part.uvs.begin(), part.uvs.end());
        if (!p.identity) {
            const Matrix& m = p.transform;
            for (std::size_t v = base; v < out.positions.size(); ++v) {
                const double x = out.positions[v][0], y = out.positions[v][1], z = out.positions[v][2];
                double tx = x * m[0] + y * m[4] + z * m[8] + m[12];
                double ty = x * m[1] + y * m[5] + z * m[9] + m[13];
                double tz = x * m[2] + y * m[6] + z * m[10] + m[14];
                const double w = x * m[3] + y * m[7] + z * m[11] + m[15];
                if (w != 0 && w != 1)
                    tx /= w, ty /= w, tz /= w;
                out.positions[v] = {float(tx), float(ty), float(tz)};
            }
            // Normals go through the inverse transpose of the 3x3 part, then unit length again.
            const double a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
            const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
            if (det != 0 && std::isfinite(det)) {
                // Cofactor matrix = det x inverse transpose; the scale goes with the renormalising.
                const double n00 = e * i - f * h, n01 = -(d * i - f * g), n02 = d * h - e * g;
                const double n10 = -(b * i - c * h), n11 = a * i - c * g, n12 = -(a * h - b * g);
                const double n20 = b * f - c * e, n21 = -(a * f - c * d), n22 = a * e - b * d;
                const double sign = det < 0 ? -1 : 1;
                for (std::size_t v = base; v < out.normals.size(); ++v) {
                    const double x = out.normals[v][0], y = out.normals[v][1], z = out.normals[v][2];
                    if (x == 0 && y == 0 && z == 0)
                        continue;
                    // Row vector times (inverse transpose) = rows of the cofactor matrix.
                    double tx = (x * n00 + y * n10 + z * n20) * sign;
                    double ty = (x * n01 + y * n11 + z * n21) * sign;
                    double tz = (x * n02 + y * n12 + z * n22) * sign;
                    const double len = std::sqrt(tx * tx + ty * ty + tz * tz);
                    if (len > 0)
                        tx /= len, ty /= len, tz /= len;
                    out.normals[v] = {float(tx), float(ty), float(tz)};
                }
            }
        }
        const std::size_t room = limits.maxTriangles - out.triangles.size();
        const std::size_t take = std::min(room, part.triangles.size());
        for (std::size_t t = 0; t < take; ++t) {
            const auto& tri = part.triangles[t];
            out.triangles.push_back(
                {std::uint32_t(tri[0] + base), std::uint32_t(tri[1] + base), std::uint32_t(tri[2] + base)});
            out.attributes.push_back(part.materials.empty() ? materialBase : materialBase + part.attributes[t]);
        }
    }
    if (out.materials.empty())
        out.materials.push_back(defaultMaterial());
    return std::nullopt;
}

}  // namespace rv
