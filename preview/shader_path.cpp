#include "preview/shader_path.h"

#include <algorithm>
#include <cmath>

#include "preview/gl_common.h"
#include "preview/prepare.h"
#include "preview/shaders.h"
#include "runtime/log.h"

namespace rv {
namespace {

constexpr const char* kPostTechniques[kPostEffectCount] = {
    "RenderSceneTechnique", "RenderMonochromeTechnique", "RenderSepiaTechnique",   "RenderReverseTechnique",
    "RenderShadeTechnique", "RenderMosaicTechnique",     "RenderYuraYuraTechnique"};

enum { kScene = 0, kDepthOfField = 1, kBloom = 2, kBloomBlur = 3, kBlend = 4, kSpare = 5 };

// A left-handed perspective of width w and height h at the near plane.
Mat4 perspectiveLH(float w, float h, float zn, float zf) {
    return {2 * zn / w, 0, 0, 0, 0, 2 * zn / h, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0};
}

GLuint makeColourTexture(int size, GLenum format, GLenum type) {
    GLuint t = 0;
    glGenTextures(1, &t);
    glBindTexture(GL_TEXTURE_2D, t);
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(format), size, size, 0, format == GL_RGBA8 ? GL_RGBA : GL_RED, type, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    return t;
}

GLuint makeRenderbuffer(int size, GLenum format) {
    GLuint r = 0;
    glGenRenderbuffers(1, &r);
    glBindRenderbuffer(GL_RENDERBUFFER, r);
    glRenderbufferStorage(GL_RENDERBUFFER, format, size, size);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    return r;
}

void drawPasses(Effect& e, const std::function<void()>& draw) {
    for (int pass = 0; pass < e.passCount(); ++pass) {
        e.beginPass(pass);
        draw();
    }
    Effect::endPass();
}

}  // namespace

bool preparedDepthsWithin(const PreparedModel& prepared, const Mat4& view, float nearest, float farthest) {
    // z = x v02 + y v12 + z v22 + v32 for row vectors. The GPU's float sum may be off by a few
    // units in the last place of its terms' magnitudes; 1e-5 of them covers that many times.
    const double a = view[2], b = view[6], c = view[10], d = view[14];
    for (const PreparedGroup& g : prepared.groups)
        for (const PreparedVertex& v : g.vertices) {
            const double x = v.x, y = v.y, z = v.z;
            const double depth = x * a + y * b + z * c + d;
            const double slack = 1e-5 * (std::fabs(x * a) + std::fabs(y * b) + std::fabs(z * c) + std::fabs(d));
            if (!(depth - slack >= nearest && depth + slack <= farthest))
                return false;
        }
    return true;
}

const char* postEffectTechnique(int postEffect) {
    return kPostTechniques[postEffect >= 0 && postEffect < kPostEffectCount ? postEffect : 0];
}

// A float format the context renders into, tried in turn: R32F, then R16F.
void ShaderPath::createShadowMap() {
    auto tryFormat = [&](GLenum format) {
        while (glGetError() != GL_NO_ERROR) {
        }
        const GLuint t = makeColourTexture(texSize_, format, GL_FLOAT);
        bindTarget(t, shadowDepth_);
        const bool ok =
            glGetError() == GL_NO_ERROR && glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        if (ok)
            return t;
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteTextures(1, &t);
        return GLuint(0);
    };
    const bool log = !setUpLogged_;
    if (log)
        LogLine("ShadowMap D3DFMT_R32F");
    shadowFormat_ = 0;
    if (allowR32F_ && (shadowMap_ = tryFormat(GL_R32F)))
        shadowFormat_ = GL_R32F;
    if (!shadowFormat_) {
        if (log)
            LogLine("ShadowMap D3DFMT_R16F");
        if (allowR16F_ && (shadowMap_ = tryFormat(GL_R16F)))
            shadowFormat_ = GL_R16F;
    }
    if (!shadowFormat_ && log)
        LogLine("ShadowMap 未対応");
}

void ShaderPath::createCube() {
    glGenTextures(1, &cube_);
    glBindTexture(GL_TEXTURE_CUBE_MAP, cube_);
    for (int face = 0; face < 6; ++face)
        glTexImage2D(GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face), 0, GL_RGBA8, texSize_, texSize_, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glBindTexture(GL_TEXTURE_CUBE_MAP, 0);
    // Nothing renders the surroundings yet: the cube starts as a soft grey sky.
    for (int face = 0; face < 6; ++face) {
        glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GLenum(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face),
                               cube_, 0);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
        glViewport(0, 0, texSize_, texSize_);
        glClearColor(face == 2 ? 0.85f : 0.6f, face == 2 ? 0.85f : 0.6f, face == 2 ? 0.9f : 0.65f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void ShaderPath::createQuad() {
    if (quadVao_)
        return;
    glGenVertexArrays(1, &quadVao_);
    glGenBuffers(1, &quadBuffer_);
    glBindVertexArray(quadVao_);
    glBindBuffer(GL_ARRAY_BUFFER, quadBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(4 * sizeof(PreparedVertex)), nullptr, GL_STREAM_DRAW);
    setVertexLayout(VertexLayout::Prepared);
    glBindVertexArray(0);
}

bool ShaderPath::createTargets() {
    // Leaves no texture bound that a later upload could land in by mistake.
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    while (glGetError() != GL_NO_ERROR) {
    }
    for (GLuint& t : colour_)
        t = makeColourTexture(texSize_, GL_RGBA8, GL_UNSIGNED_BYTE);
    sceneDepth_ = makeRenderbuffer(texSize_, GL_DEPTH24_STENCIL8);
    shadowDepth_ = makeRenderbuffer(texSize_, GL_DEPTH_COMPONENT16);
    if (!fbo_)
        glGenFramebuffers(1, &fbo_);
    createShadowMap();
    createCube();
    createQuad();
    glBindTexture(GL_TEXTURE_2D, GLuint(previous));
    return shadowFormat_ != 0;
}

bool ShaderPath::ensureTargets(int width, int height) {
    if (refused_)
        return false;
    if (ready_ && (width != width_ || height != height_))
        releaseTargets();  // the window quad and what was drawn for the old size go
    width_ = width;
    height_ = height;
    if (ready_)
        return true;
    if (!setUpLogged_) {
        LogLine("Shader 初期化");
        LogLine("Shader TexSize %d×%d", texSize_, texSize_);
    }
    const bool ok = createTargets();
    setUpLogged_ = true;
    if (!ok) {
        LogLine("ShadowMap 未対応のため、シェーダーモードを使用できません。");
        refused_ = true;
        releaseTargets();
        return false;
    }
    ready_ = true;
    return true;
}

void ShaderPath::releaseTargets() {
    glDeleteTextures(GLsizei(colour_.size()), colour_.data());
    GLuint textures[] = {shadowMap_, cube_};
    glDeleteTextures(2, textures);
    GLuint renderbuffers[] = {sceneDepth_, shadowDepth_};
    glDeleteRenderbuffers(2, renderbuffers);
    if (fbo_)
        glDeleteFramebuffers(1, &fbo_);
    if (quadVao_)
        glDeleteVertexArrays(1, &quadVao_);
    if (quadBuffer_)
        glDeleteBuffers(1, &quadBuffer_);
    abandonTargets();
}

void ShaderPath::abandonTargets() {
    colour_.fill(0);
    sceneDepth_ = shadowMap_ = shadowDepth_ = cube_ = fbo_ = quadVao_ = quadBuffer_ = 0;
    ready_ = false;
}

void ShaderPath::bindTarget(GLuint colour, GLuint depthRenderbuffer, GLenum target) {
    glBindFramebuffer(GL_FRAMEBUFFER, fbo_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, target, colour, 0);
    const bool stencil = depthRenderbuffer != 0 && depthRenderbuffer == sceneDepth_;
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, stencil ? GL_DEPTH_STENCIL_ATTACHMENT : GL_DEPTH_ATTACHMENT,
                              GL_RENDERBUFFER, depthRenderbuffer);
    glViewport(0, 0, texSize_, texSize_);
}

// A quad over NDC x0..x1, y0..y1 with texture corners (0, 0) at the lower left to (1, 1).
void ShaderPath::drawQuad(float x0, float y0, float x1, float y1, float depth) {
    const PreparedVertex quad[4] = {{x0, y0, depth, 0, 0, -1, 0xffffffffu, 0, 0},
                                    {x1, y0, depth, 0, 0, -1, 0xffffffffu, 1, 0},
                                    {x0, y1, depth, 0, 0, -1, 0xffffffffu, 0, 1},
                                    {x1, y1, depth, 0, 0, -1, 0xffffffffu, 1, 1}};
    glBindVertexArray(quadVao_);
    glBindBuffer(GL_ARRAY_BUFFER, quadBuffer_);
    glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof quad, quad);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindVertexArray(0);
}

// The 3-D effect's frame-wide parameters: transforms, light, shadow map and skinning.
void ShaderPath::setFrameParameters(Effect& e3, const ShaderFrameInput& in) {
    const SceneView& view = *in.view;
    const Mat4 projection = glProjection(view.projection);
    const Mat4 viewProjection = multiply(view.view, projection);
    const Vec3 direction = lightDirection(view.lightPosition, view.lightTarget);
    e3.setVector("LightColor", view.lightColour.x, view.lightColour.y, view.lightColour.z, 1);
    e3.setMatrix("World", kIdentity);
    e3.setMatrix("WVProj", multiply(kIdentity, viewProjection));
    e3.setMatrix("View", view.view);
    e3.setVector("Ambient", view.ambient.x, view.ambient.y, view.ambient.z, 1);
    e3.setVector("vLightDir", direction.x, direction.y, direction.z, 0.3f);
    e3.setInt("LightFlag", view.lighting ? 1 : 0);
    e3.setInt("ShadowMapFlag", shadowMap_ != 0 ? 1 : 0);
    e3.setTexture("ShadowTex", shadowMap_);
    e3.setFloat("Margin", 0.001f);
    e3.setFloat("TexSize", float(texSize_));
    const Vec3 eyeInView = transformPoint(view.lightTarget, view.view);
    focusDepth_ = std::max(eyeInView.z, 0.1f);
    e3.setFloat("FocusDepth", focusDepth_);
    e3.setMatrices("matWorld", in.skinMatrices);

    // Light view-projection: from 200 units behind the light, towards its target. A light
    // straight above or below takes z as its up, which keeps the look-at from degenerating.
    Vec3 up{0, 1, 0};
    if (std::fabs(dot(up, direction)) > 0.999f)
        up = {0, 0, 1};
    const Vec3 lightEye{view.lightPosition.x - 200 * direction.x, view.lightPosition.y - 200 * direction.y,
                        view.lightPosition.z - 200 * direction.z};
    e3.setMatrix("LightVProj",
                 glProjection(multiply(lookAtLH(lightEye, view.lightTarget, up), perspectiveLH(1, 1, 1, 1000))));
}

// The model's groups with `technique` (only the reflective ones when `onlyReflective`).
void ShaderPath::drawModel(Effect& e3, const ShaderFrameInput& in, const char* technique, bool onlyReflective,
                           FrameCounts& counts) {
    if (!in.model || !e3.setTechnique(technique))
        return;
    counts.triangles += in.model([&](const EffectGroupDraw& g, const std::function<void()>& issue) {
        if (onlyReflective && !g.group->mapC)
            return;
        const ModelColor& c = g.group->color;
        e3.setMatrix("World", kIdentity);
        e3.setInt("ModelLightFlag", in.modelLight ? 1 : 0);
        e3.setInt("TexFlag", g.texture != 0 ? 1 : 0);
        e3.setTexture("Tex0", g.texture);
        if (!onlyReflective)
            e3.setVector("Diffuse", c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f, c.alpha / 255.0f);
        e3.setTexture("g_txScene", colour_[kScene]);
        e3.setFloat("uv_offset_u", g.du);
        e3.setFloat("uv_offset_v", g.dv);
        e3.setInt("BoneFlag", g.skinned ? 1 : 0);
        if (onlyReflective) {
            e3.setFloat("Reflectivity", g.group->effectDValue);
            e3.setInt("EnvTexFlag", g.reflectionTexture != 0 ? 1 : 0);
            e3.setTexture("Tex3", g.reflectionTexture);
        }
        drawPasses(e3, issue);
        ++counts.drawCalls;
    });
}

void ShaderPath::shadowPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts) {
    bindTarget(shadowMap_, shadowDepth_);
    glClearColor(1, 1, 1, 1);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CW);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    // The scene reads the shadow map only where the light shines on the model.
    if (in.view->lighting && in.modelLight)
        drawModel(e3, in, "ShadowMapTexZ_Technique", false, counts);
}

// The scene, its reflective groups, then the application's drawing (the grid) over it.
void ShaderPath::scenePass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts) {
    const SceneView& view = *in.view;
    bindTarget(colour_[kScene], sceneDepth_);
    glClearColor(float(view.clearColour[0] & 0xff) / 255.0f, float(view.clearColour[1] & 0xff) / 255.0f,
                 float(view.clearColour[2] & 0xff) / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    drawModel(e3, in, "ShadowMapTechnique", false, counts);

    e3.setTexture("Tex2", cube_, GL_TEXTURE_CUBE_MAP);
    e3.setVector("Diffuse", 1, 1, 1, 1);
    drawModel(e3, in, "ReflectionModokiTechnique", true, counts);

    e3.setMatrix("World", kIdentity);
    e3.setTexture("g_txScene", colour_[kScene]);
    if (in.grid) {
        if (in.restoreFixedState)
            in.restoreFixedState();
        in.grid();
    }
}

// Whether the depth of field blurs any pixel. Its alpha, clamp(|z - focus| / focus - 0.5, 0, 0.75),
// is 0 for every fragment when every drawn vertex lies within half the focus depth of it: a
// fragment's depth is a weighted mean of its triangle's. The band is narrowed by a thousandth
// for the rounding of the interpolation.
bool ShaderPath::depthOfFieldBlurs(const ShaderFrameInput& in) const {
    if (!in.model)
        return false;
    if (!in.depthsWithin)
        return true;
    const float half = 0.5f * std::max(focusDepth_, 0.1f) * 0.999f;
    return !in.depthsWithin(in.view->view, focusDepth_ - half, focusDepth_ + half);
}

// The models again, over the scene's depth, into their own target.
void ShaderPath::depthOfFieldPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts) {
    bindTarget(colour_[kDepthOfField], sceneDepth_);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    drawModel(e3, in, "DepthOfFieldTexTechnique", false, counts);
}

void ShaderPath::bloomPass(Effect& e3, const ShaderFrameInput& in, FrameCounts& counts) {
    const bool on = in.view->bloomOn;
    e3.setInt("BloomFlag", on ? 1 : 0);
    if (!on)
        return;
    bindTarget(colour_[kBloom], sceneDepth_);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    drawModel(e3, in, "BloomPolyTechnique", false, counts);
    bindTarget(colour_[kBloomBlur], 0);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!e3.setTechnique("BloomTexTechnique"))
        return;
    e3.setTexture("Tex1", colour_[kBloom]);
    e3.setTexture("Tex2", colour_[kBloom]);
    const float size = float(texSize_);
    const float divisors[4] = {8, 16, 32, 48};
    for (int k = 0; k < 4; ++k) {
        const float side = size / divisors[k];
        // Side by side, 256 pixels apart; the blend reads them back from the same places.
        const float x0 = 256.0f * float(k);
        e3.setVector("BlurStep", 1.0f / side, 1.0f / side, 1.0f - 0.15f * float(k), 0);
        drawPasses(e3, [&] { drawQuad(x0 / size * 2 - 1, -1, (x0 + side) / size * 2 - 1, side / size * 2 - 1, 0.5f); });
    }
}

void ShaderPath::blendPass(Effect& e3, const ShaderFrameInput& in) {
    bindTarget(colour_[kBlend], 0);
    if (!e3.setTechnique("BlendTechnique"))
        return;
    e3.setTexture("Tex1", colour_[kScene]);
    e3.setTexture("Tex2", colour_[kDepthOfField]);
    e3.setTexture("Tex3", colour_[in.view->bloomOn ? kBloomBlur : kSpare]);
    drawPasses(e3, [&] { drawQuad(-1, -1, 1, 1, 0.5f); });
}

// The 2-D effect frame: the blended picture onto the window through the post effect.
void ShaderPath::postPass(Effect& e2, const ShaderFrameInput& in, GLuint picture) {
    const SceneView& view = *in.view;
    glBindFramebuffer(GL_FRAMEBUFFER, in.framebuffer);
    glViewport(0, 0, in.width, in.height);
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glDepthMask(GL_TRUE);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    if (!e2.setTechnique(postEffectTechnique(view.postEffect)))
        return;
    e2.setTexture("g_txScene", picture);
    e2.setVector("op", view.effect2D[0], view.effect2D[1], view.effect2D[2], 0);
    e2.setVector("ScreenSize", float(in.width), float(in.height), 0, 0);
    for (int pass = 0; pass < e2.passCount(); ++pass) {
        time2D_ += 0.001f;
        e2.setFloat("g_fTime", time2D_);
        e2.beginPass(pass);
        drawQuad(-1, -1, 1, 1, 0.99f);
    }
    Effect::endPass();
}

bool ShaderPath::drawFrame(EffectLibrary& effects, const ShaderFrameInput& in, FrameCounts& counts) {
    Effect* e3 = effects.get(EffectKind::ThreeD);
    Effect* e2 = effects.get(EffectKind::TwoD);
    if (!e3 || !e2 || !ready_)
        return false;
    setFrameParameters(*e3, in);
    shadowPass(*e3, in, counts);
    scenePass(*e3, in, counts);
    // Where nothing is blurred the depth-of-field target stays clear (alpha 0: the blend keeps
    // the scene), and without bloom too the blend would copy the scene texel for texel.
    const bool blurs = depthOfFieldBlurs(in);
    // The depth of field's parameters, set whether or not it is drawn: the bloom reads "bloom_power".
    e3->setFloat("bloom_power", in.view->bloomPower);
    e3->setTexture("Tex1", colour_[kScene]);
    if (blurs) {
        depthOfFieldPass(*e3, in, counts);
    } else if (in.view->bloomOn) {
        bindTarget(colour_[kDepthOfField], 0);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    bloomPass(*e3, in, counts);
    GLuint picture = colour_[kScene];
    if (blurs || in.view->bloomOn) {
        blendPass(*e3, in);
        picture = colour_[kBlend];
    }
    postPass(*e2, in, picture);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

}  // namespace rv
