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

bool FixedPrograms::build(std::string* error) {
    // The programs of the grid and of a lit, untextured group: every frame needs them, and a
    // source the driver refuses shows here.
    for (const unsigned features : {0u, unsigned(kFeatureLighting)}) {
        Slot& slot = sets_[features];
        slot.tried = true;
        if (!buildFixedFunctionProgram(slot.program, error, int(features))) {
            release();
            return false;
        }
    }
    return true;
}

void FixedPrograms::release() {
    for (Slot& s : sets_)
        if (s.program.program)
            glDeleteProgram(s.program.program);
    if (general_.program.program)
        glDeleteProgram(general_.program.program);
    sets_ = {};
    general_ = {};
    current_ = nullptr;
}

void FixedPrograms::setFrame(const SceneView& view, const Mat4& world) {
    FrameUniforms f;
    f.worldView = multiply(world, view.view);
    f.worldViewProjection = multiply(f.worldView, glProjection(view.projection));
    f.normal = normalMatrixOf(f.worldView);
    f.lightPosition = transformPoint(view.lightPosition, view.view);
    f.lightDiffuse = view.lightColour;
    f.ambient = view.ambient;
    auto same = [](const Vec3& a, const Vec3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; };
    if (f.worldView == frame_.worldView && f.worldViewProjection == frame_.worldViewProjection &&
        f.normal == frame_.normal && same(f.lightPosition, frame_.lightPosition) &&
        same(f.lightDiffuse, frame_.lightDiffuse) && same(f.ambient, frame_.ambient))
        return;
    frame_ = f;
    ++frameStamp_;
}

const FixedFunctionProgram& FixedPrograms::use(unsigned features) {
    Slot* slot = &sets_[features % kFixedFeatureSets];
    if (!slot->tried) {
        slot->tried = true;
        if (!buildFixedFunctionProgram(slot->program, nullptr, int(features % kFixedFeatureSets)))
            slot->program = {};
    }
    // A feature set whose program does not build takes the program that switches by uniforms.
    const bool general = slot->program.program == 0;
    if (general) {
        slot = &general_;
        if (!slot->tried) {
            slot->tried = true;
            buildFixedFunctionProgram(slot->program, nullptr, -1);
        }
    }
    const FixedFunctionProgram& p = slot->program;
    if (slot != current_) {
        glUseProgram(p.program);
        current_ = slot;
    }
    if (slot->frame != frameStamp_) {
        slot->frame = frameStamp_;
        glUniformMatrix4fv(p.worldViewProjection, 1, GL_FALSE, frame_.worldViewProjection.data());
        glUniformMatrix4fv(p.worldView, 1, GL_FALSE, frame_.worldView.data());
        // Row-major inverse transpose for row vectors is the column-major normal matrix.
        glUniformMatrix3fv(p.normalMatrix, 1, GL_FALSE, frame_.normal.data());
        glUniform3f(p.lightPosition, frame_.lightPosition.x, frame_.lightPosition.y, frame_.lightPosition.z);
        glUniform3f(p.lightDiffuse, frame_.lightDiffuse.x, frame_.lightDiffuse.y, frame_.lightDiffuse.z);
        glUniform3f(p.lightAmbient, frame_.ambient.x, frame_.ambient.y, frame_.ambient.z);
    }
    if (general) {
        glUniform1i(p.lighting, (features & kFeatureLighting) ? 1 : 0);
        glUniform1i(p.vertexSpecular, (features & kFeatureVertexSpecular) ? 1 : 0);
        glUniform1i(p.specularEnable, (features & kFeatureSpecular) ? 1 : 0);
        glUniform1i(p.flatShade, (features & kFeatureFlat) ? 1 : 0);
        glUniform1i(p.textured, (features & kFeatureTextured) ? 1 : 0);
        glUniform1i(p.alphaTest, (features & kFeatureAlphaTest) ? 1 : 0);
    }
    return p;
}

void FixedPrograms::setGroup(float alphaRef, const std::array<float, 2>& scroll) {
    if (!current_)
        return;
    Slot& s = *current_;
    if (s.alphaRef != alphaRef) {
        s.alphaRef = alphaRef;
        glUniform1f(s.program.alphaRef, alphaRef);
    }
    if (s.scroll != scroll) {
        s.scroll = scroll;
        glUniform2f(s.program.uvOffset, scroll[0], scroll[1]);
    }
}

unsigned fixedGroupFeatures(const ModelGroup& group, bool textured, bool vertexSpecular, const SceneView& view) {
    unsigned f = 0;
    if (view.lighting)
        f |= kFeatureLighting;
    if (vertexSpecular)
        f |= kFeatureVertexSpecular;
    // Without a vertex specular colour the material's (black) one adds nothing.
    if (vertexSpecular && group.specular() != 0)
        f |= kFeatureSpecular;
    if (group.shadeParam == kStyleFlat)
        f |= kFeatureFlat;
    if (textured)
        f |= kFeatureTextured;
    if (group.groupOption != 0)
        f |= kFeatureAlphaTest;
    return f;
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

void GridLines::draw(FixedPrograms& programs, const SceneView& view) const {
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    programs.setFrame(view, kIdentity);
    programs.use(0);
    programs.setGroup(0, {0, 0});
    glBindVertexArray(vao_);
    glDrawArrays(GL_LINES, 0, count_);
    glBindVertexArray(0);
}

}  // namespace rv
