#include "preview/gl_common.h"

#include "preview/prepare.h"

namespace rv {

void bindVertexInputs(GLuint program) {
    glBindAttribLocation(program, kAttrPosition, "aPosition");
    glBindAttribLocation(program, kAttrNormal, "aNormal");
    glBindAttribLocation(program, kAttrDiffuse, "aDiffuse");
    glBindAttribLocation(program, kAttrSpecular, "aSpecular");
    glBindAttribLocation(program, kAttrUV, "aUV");
    glBindAttribLocation(program, kAttrBoneIndices, "aBoneIndices");
    glBindAttribLocation(program, kAttrBoneWeight, "aBoneWeight");
}

void setVertexLayout(VertexLayout layout) {
    const bool fan = layout == VertexLayout::Fan;
    const GLsizei stride = fan ? GLsizei(sizeof(FanVertex)) : GLsizei(sizeof(PreparedVertex));
    auto at = [](std::size_t offset) { return reinterpret_cast<void*>(offset); };
    glEnableVertexAttribArray(kAttrPosition);
    glVertexAttribPointer(kAttrPosition, 3, GL_FLOAT, GL_FALSE, stride, at(0));
    glEnableVertexAttribArray(kAttrNormal);
    glVertexAttribPointer(kAttrNormal, 3, GL_FLOAT, GL_FALSE, stride, at(12));
    // Direct3D colours lie in memory as bytes B, G, R, A.
    glEnableVertexAttribArray(kAttrDiffuse);
    glVertexAttribPointer(kAttrDiffuse, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, at(24));
    if (fan) {
        glEnableVertexAttribArray(kAttrSpecular);
        glVertexAttribPointer(kAttrSpecular, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, stride, at(28));
    } else {
        glDisableVertexAttribArray(kAttrSpecular);
        glVertexAttrib4f(kAttrSpecular, 0, 0, 0, 0);
    }
    glEnableVertexAttribArray(kAttrUV);
    glVertexAttribPointer(kAttrUV, 2, GL_FLOAT, GL_FALSE, stride, at(fan ? 32 : 28));
}

Vec3 lightDirection(const Vec3& position, const Vec3& target) {
    const Vec3 d = normalize(target - position);
    return d.x == 0 && d.y == 0 && d.z == 0 ? Vec3{0, 0, 1} : d;
}

GLenum polygonModeOf(int style, std::uint32_t modelFillMode) {
    if (style == kStylePoints)
        return GL_POINT;
    if (style == kStyleWireframe)
        return GL_LINE;
    return modelFillMode == 0 ? GL_POINT : modelFillMode == 1 ? GL_LINE : GL_FILL;
}

}  // namespace rv
