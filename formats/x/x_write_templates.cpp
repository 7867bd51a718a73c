// The standard .x templates the writer declares, so that readers that want every template
// declared (Wine's d3dxof among them) find them before the data.
#include "formats/x/x_write.h"

namespace rv {

namespace {

constexpr std::string_view kMaterialGuid = "3D82AB4D-62DA-11CF-AB39-0020AF71E433";

constexpr XTemplateMember kVector[] = {{"FLOAT", "x", {}}, {"FLOAT", "y", {}}, {"FLOAT", "z", {}}};
constexpr XTemplateMember kMeshFace[] = {{"DWORD", "nFaceVertexIndices", {}},
                                         {"DWORD", "faceVertexIndices", "nFaceVertexIndices"}};
constexpr XTemplateMember kMesh[] = {{"DWORD", "nVertices", {}},
                                     {"Vector", "vertices", "nVertices"},
                                     {"DWORD", "nFaces", {}},
                                     {"MeshFace", "faces", "nFaces"}};
constexpr XTemplateMember kMeshNormals[] = {{"DWORD", "nNormals", {}},
                                            {"Vector", "normals", "nNormals"},
                                            {"DWORD", "nFaceNormals", {}},
                                            {"MeshFace", "faceNormals", "nFaceNormals"}};
constexpr XTemplateMember kCoords2d[] = {{"FLOAT", "u", {}}, {"FLOAT", "v", {}}};
constexpr XTemplateMember kMeshTextureCoords[] = {{"DWORD", "nTextureCoords", {}},
                                                  {"Coords2d", "textureCoords", "nTextureCoords"}};
constexpr XTemplateMember kColorRGBA[] = {
    {"FLOAT", "red", {}}, {"FLOAT", "green", {}}, {"FLOAT", "blue", {}}, {"FLOAT", "alpha", {}}};
constexpr XTemplateMember kIndexedColor[] = {{"DWORD", "index", {}}, {"ColorRGBA", "indexColor", {}}};
constexpr XTemplateMember kMeshVertexColors[] = {{"DWORD", "nVertexColors", {}},
                                                 {"IndexedColor", "vertexColors", "nVertexColors"}};
constexpr XTemplateMember kColorRGB[] = {{"FLOAT", "red", {}}, {"FLOAT", "green", {}}, {"FLOAT", "blue", {}}};
constexpr XTemplateMember kMaterial[] = {{"ColorRGBA", "faceColor", {}},
                                         {"FLOAT", "power", {}},
                                         {"ColorRGB", "specularColor", {}},
                                         {"ColorRGB", "emissiveColor", {}}};
constexpr XTemplateMember kMeshMaterialList[] = {
    {"DWORD", "nMaterials", {}}, {"DWORD", "nFaceIndexes", {}}, {"DWORD", "faceIndexes", "nFaceIndexes"}};
constexpr XTemplateMember kTextureFilename[] = {{"STRING", "filename", {}}};

const XTemplateDecl kTemplates[] = {
    {"Vector", "3D82AB5E-62DA-11CF-AB39-0020AF71E433", kVector, {}, {}},
    {"MeshFace", "3D82AB5F-62DA-11CF-AB39-0020AF71E433", kMeshFace, {}, {}},
    {"Mesh", "3D82AB44-62DA-11CF-AB39-0020AF71E433", kMesh, "...", {}},
    {"MeshNormals", "F6F23F43-7686-11CF-8F52-0040333594A3", kMeshNormals, {}, {}},
    {"Coords2d", "F6F23F44-7686-11CF-8F52-0040333594A3", kCoords2d, {}, {}},
    {"MeshTextureCoords", "F6F23F40-7686-11CF-8F52-0040333594A3", kMeshTextureCoords, {}, {}},
    {"ColorRGBA", "35FF44E0-6C7C-11CF-8F52-0040333594A3", kColorRGBA, {}, {}},
    {"IndexedColor", "1630B820-7842-11CF-8F52-0040333594A3", kIndexedColor, {}, {}},
    {"MeshVertexColors", "1630B821-7842-11CF-8F52-0040333594A3", kMeshVertexColors, {}, {}},
    {"ColorRGB", "D3E16E81-7835-11CF-8F52-0040333594A3", kColorRGB, {}, {}},
    {"Material", kMaterialGuid, kMaterial, "...", {}},
    {"MeshMaterialList", "F6F23F42-7686-11CF-8F52-0040333594A3", kMeshMaterialList, "Material", kMaterialGuid},
    {"TextureFilename", "A42790E1-7810-11CF-8F52-0040333594A3", kTextureFilename, {}, {}},
};

}  // namespace

std::vector<const XTemplateDecl*> xTemplatesUsed(const XWriteMesh& mesh) {
    bool textured = false;
    for (const XWriteMaterial& m : mesh.materials)
        textured = textured || m.hasTexture;
    std::vector<const XTemplateDecl*> used;
    for (const XTemplateDecl& t : kTemplates) {
        if (!mesh.hasColors && (t.name == "IndexedColor" || t.name == "MeshVertexColors"))
            continue;
        if (!textured && t.name == "TextureFilename")
            continue;
        used.push_back(&t);
    }
    return used;
}

}  // namespace rv
