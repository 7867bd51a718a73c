#include "preview/renderer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "model/mesh.h"
#include "preview/effects.h"
#include "preview/fan_draw.h"
#include "preview/fixed_frame.h"
#include "preview/gl_common.h"
#include "preview/group_buffers.h"
#include "preview/group_state.h"
#include "preview/model_effects.h"
#include "preview/shader_path.h"
#include "preview/texture_cache.h"
#include "runtime/paths.h"

namespace rv {

struct PreviewRenderer::Impl {
    FixedPrograms programs;
    TextureCache textures;
    FanDraw fans;  // mode 0
    GroupBuffers buffers;  // modes 3 and 8
    GridLines grid;

    // CPU side of the current model.
    const Model* model = nullptr;
    int path = -1;
    PreparedModel prepared;
    // The vertex-cache order, worked out on another thread while the first frames draw the
    // polygon order (the same picture); adopted once ready.
    std::future<PreparedModel> ordered;
    std::shared_ptr<std::atomic<bool>> cancelOrdering;
    std::vector<bool> orderGroups, orderMirrored;  // planned, not yet started
    PreparedModel unmirrored;  // what the planned ordering starts from, when groups are mirrored
    std::shared_ptr<ModelPreparation> offered;  // made elsewhere for the next model to prepare
    std::unique_ptr<Model> subdivided;  // mode 8's copy
    PoseState pose;
    bool moved = false;  // skinning moved the vertices this frame
    bool reskin = false;  // the prepared vertices were replaced: skin them again

    // The effect path, and render modes 5 to 7.
    EffectLibrary effects;
    ShaderPath shader;
    bool gpuSkin = false;  // mode 5's bones go to the bone effect
    std::vector<Mat4> skinMatrices;  // per bone: rest offset, then the global transform

    void createGl() {
        buffers.create();
        fans.create();
        grid.create();
        textures.create();
    }

    void releaseGl() {
        textures.release();
        buffers.release();
        fans.release();
        grid.release();
        effects.releaseGl();
        shader.releaseTargets();
    }

    // Lets go of an ordering still being worked out (it stops at its next group).
    void dropOrdering() {
        orderGroups.clear();
        unmirrored = {};
        if (!ordered.valid())
            return;
        cancelOrdering->store(true);
        ordered.wait();
        ordered = {};
    }

    // The planned order starts on the next model pass, after the first frame, so that it takes
    // nothing from that frame (nor from a render of one frame).
    void startOrdering() {
        if (orderGroups.empty())
            return;
        cancelOrdering = std::make_shared<std::atomic<bool>>(false);
        // Without mirrored groups the prepared model is its own start.
        PreparedModel start = unmirrored.groups.empty() ? prepared : std::move(unmirrored);
        ordered =
            std::async(std::launch::async, [copy = std::move(start), groups = std::move(orderGroups),
                                            mirrored = std::move(orderMirrored), cancel = cancelOrdering]() mutable {
                orderForVertexCache(copy, groups, cancel.get());
                addMirroredCopies(copy, mirrored);
                return copy;
            });
        orderGroups.clear();
        unmirrored = {};
    }

    // Takes the vertex-cache order once it is ready; the skinned positions are made again.
    void adoptOrdering() {
        if (!ordered.valid() || ordered.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            return;
        PreparedModel next = ordered.get();
        if (cancelOrdering->load() || next.groups.size() != prepared.groups.size())
            return;
        prepared = std::move(next);
        buffers.markStale();
        if (moved)
            reskin = true;
    }

    void forget() {
        dropOrdering();
        model = nullptr;
        path = -1;
        prepared = {};
        subdivided.reset();
        pose = {};
        fans.forget();
        textures.forgetModel();
        buffers.markStale();
    }

    // Takes the preparation offered for `m` when it still fits the model, else makes it here.
    void prepare(Model& m, const ModelInstance& instance) {
        dropOrdering();
        m.renderModeDirty = 0;
        ModelPreparation p =
            offered && preparedFrom(*offered, m) ? std::move(*offered) : prepareForDrawing(m, instance);
        offered.reset();
        path = p.path;
        prepared = std::move(p.prepared);
        subdivided = std::move(p.subdivided);
        orderGroups = std::move(p.orderGroups);
        orderMirrored = std::move(p.orderMirrored);
        unmirrored = std::move(p.unmirrored);
        fans.forget();
        if (path == 0)
            fans.prepare(m);
        buffers.markStale();
    }

    // Render mode 5 skinned by the bone effect: the buffers keep the prepared positions.
    void skinOnGpu() {
        skinMatrices.resize(pose.global.size());
        for (std::size_t b = 0; b < pose.global.size(); ++b) {
            const Mat4& rest = pose.rest[b];
            skinMatrices[b] = multiply(translation(-rest[12], -rest[13], -rest[14]), pose.global[b]);
        }
        if (!moved)
            return;
        for (PreparedGroup& group : prepared.groups)
            for (std::size_t v = 0; v < group.vertices.size() && v < group.sourcePositions.size(); ++v) {
                group.vertices[v].x = group.sourcePositions[v].x;
                group.vertices[v].y = group.sourcePositions[v].y;
                group.vertices[v].z = group.sourcePositions[v].z;
            }
        buffers.markPositionsStale();
        moved = false;
    }

    void skinOnCpu(const Model& m) {
        const bool moves = poseMoves(pose) || reskin;
        reskin = false;
        // Positions go back to the prepared ones once, when the pose returns to rest.
        if (!moves && !moved)
            return;
        moved = moves;
        if (path == 0)
            return fans.skin(m, pose);
        std::vector<ModelVertex> skinned;
        for (PreparedGroup& group : prepared.groups) {
            skinned.resize(group.sourcePositions.size());
            skinPositions(group.sourcePositions, group.skin, pose, skinned);
            for (std::size_t v = 0; v < skinned.size(); ++v) {
                group.vertices[v].x = skinned[v].x;
                group.vertices[v].y = skinned[v].y;
                group.vertices[v].z = skinned[v].z;
            }
        }
        buffers.markPositionsStale();
    }

    bool drawable(const Model* m, const ModelInstance* instance) const {
        return m && instance && model == m && path >= 0 && m->polygonCount() > 0 && instance->visible;
    }

    // Binds what the model draws from, the prepared buffers brought up to date first.
    void bindModel() {
        if (path == 0)
            return fans.bind();
        buffers.sync(prepared, model ? usableBones(*model) : 0);
        buffers.bind();
    }

    // Group g on the prepared path, through its effect when the render mode has one.
    int drawPreparedGroup(FixedPrograms& programs, const Model& m, ModelInstance& instance, std::size_t g,
                          GLuint texture, const std::array<float, 2>& scroll, const SceneView& view) {
        Effect* effect = path == 3 ? groupEffectOf(effects, m, gpuSkin) : nullptr;
        if (!effect)
            return buffers.draw(g);
        const GroupEffectInput in{&m, &instance, &m.groups[g], texture, scroll, &skinMatrices};
        setGroupEffect(*effect, in, view, textures);
        for (int pass = 0; pass < effect->passCount(); ++pass) {
            effect->beginPass(pass);
            buffers.draw(g);
        }
        Effect::endPass();
        programs.forgetBinding();
        return buffers.triangles(g);
    }

    void drawModelFixed(FixedPrograms& programs, const Model& m, ModelInstance& instance, const SceneView& view,
                        FrameCounts& counts);
    bool drawShaderFrame(GLuint framebuffer, int width, int height, const Model* m, ModelInstance* instance,
                         const SceneView& view, FixedPrograms& programs, FrameCounts& counts);
    int walkForEffects(const Model& m, ModelInstance& instance, const EffectGroupVisitor& visit);
};

void PreviewRenderer::Impl::drawModelFixed(FixedPrograms& programs, const Model& m, ModelInstance& instance,
                                           const SceneView& view, FrameCounts& counts) {
    programs.setFrame(view, kIdentity);
    const bool fanPath = path == 0;
    bindModel();
    // Texture and fill mode change only where a group differs from the one before.
    GLuint boundTexture = 0;
    GLenum fill = GL_FILL;
    for (std::size_t g = 0; g < m.groups.size(); ++g) {
        const ModelGroup& group = m.groups[g];
        if (group.shadeParam == kStyleHidden)
            continue;
        const int number = groupTextureNumber(m, instance.playback, g);
        const GLuint texture = number != 0 ? textures.textureFor(m, instance, number) : 0;
        const std::array<float, 2> scroll = groupScroll(group, instance.playback, g);
        if (texture != boundTexture) {
            glBindTexture(GL_TEXTURE_2D, texture);
            boundTexture = texture;
        }
        if (const GLenum mode = polygonModeOf(group.shadeParam, m.fillMode); mode != fill) {
            glPolygonMode(GL_FRONT_AND_BACK, mode);
            fill = mode;
        }
        programs.use(fixedGroupFeatures(group, texture != 0, fanPath, view));
        programs.setGroup(float(group.groupOptionValue & 0xff), scroll);
        if (fanPath) {
            const int triangles = fans.draw(m, g, pose, moved, view.selectedBone);
            counts.triangles += triangles;
            if (triangles > 0)
                ++counts.drawCalls;
        } else if (buffers.hasTriangles(g)) {
            counts.triangles += drawPreparedGroup(programs, m, instance, g, texture, scroll, view);
            ++counts.drawCalls;
        }
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindVertexArray(0);
}

// Walks the model's drawn groups for the effect frame, each with its vertex array bound.
int PreviewRenderer::Impl::walkForEffects(const Model& m, ModelInstance& instance, const EffectGroupVisitor& visit) {
    int triangles = 0;
    bindModel();
    for (std::size_t g = 0; g < m.groups.size(); ++g) {
        const ModelGroup& group = m.groups[g];
        if (group.shadeParam == kStyleHidden)
            continue;
        const int number = groupTextureNumber(m, instance.playback, g);
        EffectGroupDraw d;
        d.index = g;
        d.group = &group;
        d.texture = number != 0 ? textures.textureFor(m, instance, number) : 0;
        const std::array<float, 2> scroll = groupScroll(group, instance.playback, g);
        d.du = scroll[0];
        d.dv = scroll[1];
        d.skinned = gpuSkin;
        const int reflection = effectTextureNumber(m, group.mapC != 0 ? group.mapCTexture : 0);
        d.reflectionTexture = reflection != 0 ? textures.textureFor(m, instance, reflection) : 0;
        glPolygonMode(GL_FRONT_AND_BACK, polygonModeOf(group.shadeParam, m.fillMode));
        visit(d, [&] {
            if (path == 0) {
                fans.bind();
                triangles += fans.draw(m, g, pose, moved, -1);
            } else if (buffers.hasTriangles(g)) {
                buffers.bind();
                triangles += buffers.draw(g);
            }
        });
    }
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindVertexArray(0);
    return triangles;
}

// The frame through the effects; false when it cannot be drawn (set-up refused, an effect
// missing), and the fixed-function frame is drawn instead.
bool PreviewRenderer::Impl::drawShaderFrame(GLuint framebuffer, int width, int height, const Model* m,
                                            ModelInstance* instance, const SceneView& view, FixedPrograms& programs,
                                            FrameCounts& counts) {
    if (!shader.ensureTargets(width, height))
        return false;
    ShaderFrameInput in;
    in.framebuffer = framebuffer;
    in.width = width;
    in.height = height;
    in.view = &view;
    in.skinMatrices = gpuSkin ? skinMatrices : std::vector<Mat4>{};
    if (drawable(m, instance)) {
        in.modelLight = m->lighting != 0;
        in.model = [this, m, instance](const EffectGroupVisitor& visit) {
            return walkForEffects(*m, *instance, visit);
        };
        // The prepared buffers hold the drawn positions, unless the bones move them on the GPU.
        if (path != 0 && !gpuSkin)
            in.depthsWithin = [this](const Mat4& view, float nearest, float farthest) {
                return preparedDepthsWithin(prepared, view, nearest, farthest);
            };
    }
    if (view.grid)
        in.grid = [this, &programs, &view] {
            programs.forgetBinding();
            grid.draw(programs, view);
        };
    in.restoreFixedState = restoreFixedState;
    FrameCounts frame;
    if (!shader.drawFrame(effects, in, frame))
        return false;
    counts = frame;
    return true;
}

PreviewRenderer::PreviewRenderer() : impl_(std::make_unique<Impl>()) {}

PreviewRenderer::~PreviewRenderer() = default;

bool PreviewRenderer::ready() const { return impl_->programs.ready(); }

bool PreviewRenderer::init(std::string* error) {
    if (ready())
        return true;
    if (!impl_->programs.build(error))
        return false;
    impl_->createGl();
    return true;
}

void PreviewRenderer::release() {
    if (!ready())
        return;
    impl_->releaseGl();
    impl_->programs.release();
}

void PreviewRenderer::setNullTexture(const Image& image) { impl_->textures.setNullImage(image); }

void PreviewRenderer::forgetModel() {
    impl_->forget();
    impl_->offered.reset();
}

void PreviewRenderer::offerPreparation(std::shared_ptr<ModelPreparation> preparation) {
    impl_->offered = std::move(preparation);
}

bool PreviewRenderer::ordering() const { return impl_->ordered.valid() || !impl_->orderGroups.empty(); }

void PreviewRenderer::setEffectFolder(const std::string& dataFolder) {
    impl_->effects.setDataFolder(dataFolder);
    impl_->effects.setBinaryCacheFolder(dataFolder.empty() ? std::string() : effectCacheFolder());
}

void PreviewRenderer::setShadowFormats(bool r32f, bool r16f) { impl_->shader.setFloatFormats(r32f, r16f); }

bool PreviewRenderer::shaderModeRefused() const { return impl_->shader.refused(); }

bool PreviewRenderer::effectTried(int kind) const {
    return kind >= 0 && kind < 4 && impl_->effects.tried(EffectKind(kind));
}

bool PreviewRenderer::gpuSkinning() const { return impl_->gpuSkin; }

void PreviewRenderer::modelPass(Model& model, ModelInstance& instance) {
    Impl& s = *impl_;
    if (s.model != &model) {
        s.forget();
        s.model = &model;
        model.renderModeDirty = 1;
    }
    advancePlayback(model, instance.playback);
    const bool prepared = model.renderModeDirty && model.positionCount() > 0;
    if (prepared)
        s.prepare(model, instance);
    if (s.path < 0)
        return;
    if (!prepared)
        s.startOrdering();
    s.adoptOrdering();
    computeBoneMatrices(model, instance, s.pose);
    // Render mode 5 leaves skinning to the bone effect when it loads.
    s.gpuSkin = model.renderMode == 5 && s.path == 3 && s.effects.get(EffectKind::Bone) != nullptr;
    if (s.gpuSkin)
        s.skinOnGpu();
    else
        s.skinOnCpu(model);
}

FrameCounts PreviewRenderer::drawScene(GLuint framebuffer, int width, int height, const Model* model,
                                       ModelInstance* instance, const SceneView& view,
                                       const std::function<void()>& overlay) {
    FrameCounts counts;
    if (!ready())
        return counts;
    Impl& s = *impl_;
    // Whatever ran between frames may have used another program.
    s.programs.forgetBinding();
    const bool shaderFrame = view.shaderMode && !s.shader.refused() &&
                             s.drawShaderFrame(framebuffer, width, height, model, instance, view, s.programs, counts);
    if (!shaderFrame) {
        beginFixedFrame(framebuffer, width, height, view);
        glActiveTexture(GL_TEXTURE0);
        if (s.drawable(model, instance))
            s.drawModelFixed(s.programs, *model, *instance, view, counts);
        // The application's drawing: the grid, unlit, in world space.
        if (view.grid)
            s.grid.draw(s.programs, view);
    }
    glUseProgram(0);
    s.programs.forgetBinding();
    if (overlay)
        overlay();
    return counts;
}

}  // namespace rv
