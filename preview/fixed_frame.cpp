#include "preview/fixed_frame.h"

#include <cmath>
#include <vector>

#include "preview/camera.h"
#include "preview/gl_common.h"

namespace rv {

std::array<float, 9> normalMatrixOf(const Mat4& m) {
    const float a = m[0], b = m[1], c = m[2], d = m[4], e = m[5], f = m[6], g = m[8], h = m[9], i = m[10];
    const float A = e * i - f * h, B = -(d * i - f * g), C = d * h - e * g;
    const float det = a * A + b * B + c * C;
    if (det == 0 || !std::isfinite(det))
        return {};
    const float s = 1.0f / det;
    // Inverse is adj^T / det; its transpose is the cofactor matrix / det.
    return {A * s,
            B * s,
            C * s,
            -(b * i - c * h) * s,
            (a * i - c * g) * s,
            -(a * h - b * g) * s,
            (b * f - c * e) * s,
            -(a * f - c * d) * s,
            (a * e - b * d) * s};
}

namespace {

void clearFrame(GLuint framebuffer, int width, int height, const SceneView& view) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glViewport(0, 0, width, height);
    if (view.transparentClear)
        glClearColor(0, 0, 0, 0);
    else
        glClearColor(float(view.clearColour[0] & 0xff) / 255.0f, float(view.clearColour[1] & 0xff) / 255.0f,
                     float(view.clearColour[2] & 0xff) / 255.0f, 1.0f);
    glClearDepth(1.0);
    glClearStencil(0);
    glDepthMask(GL_TRUE);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

}  // namespace

void beginFixedFrame(GLuint framebuffer, int width, int height, const SceneView& view) {
    clearFrame(framebuffer, width, height, view);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glEnable(GL_BLEND);
    if (view.transparentClear) {
        // Over a clear of alpha 0 the alpha must gather coverage (a + d(1 - a)); the colour then
        // comes out premultiplied against the black clear, which the read-back undoes.
        glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glBlendEquation(GL_FUNC_ADD);
    // Clockwise on screen is the front; counter-clockwise triangles are culled, as Direct3D's
    // default CULL_CCW does.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glFrontFace(GL_CW);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_STENCIL_TEST);
}

void restoreFixedState() {
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_CULL_FACE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void setFixedLight(const FixedFunctionProgram& p, const SceneView& view) {
    glUseProgram(p.program);
    glActiveTexture(GL_TEXTURE0);
    glUniform1i(p.sampler, 0);
    const Vec3 lightInView = transformPoint(view.lightPosition, view.view);
    glUniform3f(p.lightPosition, lightInView.x, lightInView.y, lightInView.z);
    glUniform3f(p.lightDiffuse, view.lightColour.x, view.lightColour.y, view.lightColour.z);
    glUniform3f(p.lightSpecular, 1, 1, 1);
    glUniform3f(p.lightAmbient, view.ambient.x, view.ambient.y, view.ambient.z);
    glUniform1f(p.lightRange, 65000.0f);
    // Material: diffuse 1 (the vertex colour stands in for it), power 20, the rest zero.
    glUniform3f(p.materialAmbient, 0, 0, 0);
    glUniform3f(p.materialSpecular, 0, 0, 0);
    glUniform3f(p.materialEmissive, 0, 0, 0);
    glUniform3f(p.globalAmbient, 0, 0, 0);
    glUniform1f(p.power, 20.0f);
}

void setFixedWorld(const FixedFunctionProgram& p, const SceneView& view, const Mat4& world) {
    const Mat4 worldView = multiply(world, view.view);
    const Mat4 wvp = multiply(worldView, glProjection(view.projection));
    const std::array<float, 9> normal = normalMatrixOf(worldView);
    glUniformMatrix4fv(p.worldViewProjection, 1, GL_FALSE, wvp.data());
    glUniformMatrix4fv(p.worldView, 1, GL_FALSE, worldView.data());
    // Row-major inverse transpose for row vectors is the column-major normal matrix.
    glUniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, normal.data());
}

void setFixedGroupState(const FixedFunctionProgram& p, const Model& model, std::size_t g, GLuint texture,
                        const std::array<float, 2>& scroll) {
    const ModelGroup& group = model.groups[g];
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(p.textured, texture != 0 ? 1 : 0);
    glUniform1i(p.specularEnable, group.specular() != 0 ? 1 : 0);
    glPolygonMode(GL_FRONT_AND_BACK, polygonModeOf(group.shadeParam, model.fillMode));
    glUniform1i(p.flatShade, group.shadeParam == kStyleFlat ? 1 : 0);
    glUniform1i(p.alphaTest, group.groupOption != 0 ? 1 : 0);
    glUniform1f(p.alphaRef, float(group.groupOptionValue & 0xff));
    glUniform2f(p.uvOffset, scroll[0], scroll[1]);
}

void GridLines::create() {
    glGenVertexArrays(1, &vao_);
    glGenBuffers(1, &buffer_);
    glBindVertexArray(vao_);
    glBindBuffer(GL_ARRAY_BUFFER, buffer_);
    setVertexLayout(VertexLayout::Fan);
    std::vector<FanVertex> lines;
    for (const GridVertex& v : referenceGridLines())
        lines.push_back({v.position.x, v.position.y, v.position.z, 0, 0, 0, argb(v.a, v.r, v.g, v.b), 0, 0, 0});
    count_ = GLsizei(lines.size());
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(lines.size() * sizeof(FanVertex)), lines.data(), GL_STATIC_DRAW);
    glBindVertexArray(0);
}

void GridLines::release() {
    glDeleteBuffers(1, &buffer_);
    glDeleteVertexArrays(1, &vao_);
    vao_ = buffer_ = 0;
}

void GridLines::draw(const FixedFunctionProgram& p, const SceneView& view) const {
    glUseProgram(p.program);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    setFixedWorld(p, view, kIdentity);
    glUniform1i(p.lighting, 0);
    glUniform1i(p.vertexSpecular, 0);
    glUniform1i(p.textured, 0);
    glUniform1i(p.specularEnable, 0);
    glUniform1i(p.flatShade, 0);
    glUniform1i(p.alphaTest, 0);
    glUniform2f(p.uvOffset, 0, 0);
    glBindVertexArray(vao_);
    glDrawArrays(GL_LINES, 0, count_);
    glBindVertexArray(0);
    glUniform1i(p.lighting, 1);
    glUseProgram(0);
}

}  // namespace rv
