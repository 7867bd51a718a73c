// The preview on 65,000 quads: mode 3 preparation on the CPU, whole frames (model pass, drawing,
// present) at 1280 x 720 in the headless context against the floor (the same triangles in one
// call, positions only, one colour), and a whole headless render to PNG bytes. With
// REVIZEVOZ_BENCH_OUT=DIR set, the model is also saved there as preview_bench.kzp for timing
// `revizevoz-cli render` on it.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <epoxy/gl.h>
#include <meshoptimizer.h>

#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "preview/headless_device.h"
#include "preview/headless_render.h"
#include "preview/prepare.h"
#include "preview/renderer.h"
#include "preview/shaders.h"
#include "runtime/image_write.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;

// The shared grid, wound to face up (clockwise seen from above), so that every quad is drawn.
rv::Model gridModel() {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
    for (rv::ModelPolygon& p : m.polygons)
        std::swap(p.corners[1], p.corners[3]);
    rv::computeNormals(m);
    return m;
}

void prepareMode3(benchmark::State& state) {
    const rv::Model m = gridModel();
    for (auto _ : state) {
        rv::PreparedModel prepared = rv::prepareMode3(m);
        benchmark::DoNotOptimize(prepared.groups.data());
    }
    state.SetItemsProcessed(state.iterations() * kQuads);
}
BENCHMARK(prepareMode3)->Unit(benchmark::kMillisecond);

// The whole 255 x 255 grid in view from above one corner.
const rv::Vec3 kEye{-60, 220, -60}, kAt{128, 0, 128};

rv::Mat4 viewProjection() {
    const rv::Mat4 projection = rv::perspectiveFovLH(3.14159265f / 4, 1280.0f / 720.0f, 0.1f, 65536.0f);
    // Direct3D's depth 0..1 onto OpenGL's -1..1.
    const rv::Mat4 remap{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 2, 0, 0, 0, -1, 1};
    return rv::multiply(rv::multiply(rv::lookAtLH(kEye, kAt, {0, 1, 0}), projection), remap);
}

// The floor every frame figure is read against: the model's triangles over its shared vertices,
// in the order the vertex cache likes best, drawn in one call by a shader that reads the position
// only and writes one colour; the same clear, depth test and culling as the preview's frame.
// range(0) is the multisample count.
void floorFrame(benchmark::State& state) {
    rv::HeadlessDevice device;
    device.setSamples(int(state.range(0)));
    if (!device.create(1280, 720)) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    const rv::PreparedModel prepared = rv::prepareMode3(gridModel());
    std::vector<float> positions;
    std::vector<std::uint32_t> indices;
    for (const rv::PreparedGroup& g : prepared.groups) {
        const std::uint32_t base = std::uint32_t(positions.size() / 3);
        for (const rv::PreparedVertex& v : g.vertices)
            positions.insert(positions.end(), {v.x, v.y, v.z});
        for (const std::uint32_t i : g.indices)
            indices.push_back(base + i);
    }
    const std::size_t vertices = positions.size() / 3;
    meshopt_optimizeVertexCache(indices.data(), indices.data(), indices.size(), vertices);
    const bool narrow = vertices <= 65536;
    std::vector<std::uint16_t> narrowIndices(indices.begin(), indices.end());

    const char* vs = "#version 330 core\nin vec3 aPosition;\nuniform mat4 uWorldViewProjection;\n"
                     "void main() { gl_Position = uWorldViewProjection * vec4(aPosition, 1.0); }\n";
    const char* fs = "#version 330 core\nout vec4 fragColour;\n"
                     "void main() { fragColour = vec4(0.8, 0.6, 0.4, 1.0); }\n";
    const GLuint program = glCreateProgram();
    const GLuint v = rv::compileShader(GL_VERTEX_SHADER, vs, nullptr);
    const GLuint f = rv::compileShader(GL_FRAGMENT_SHADER, fs, nullptr);
    glAttachShader(program, v);
    glAttachShader(program, f);
    glBindAttribLocation(program, 0, "aPosition");
    glLinkProgram(program);
    glDeleteShader(v);
    glDeleteShader(f);
    GLuint vao = 0, buffers[2] = {};
    glGenVertexArrays(1, &vao);
    glGenBuffers(2, buffers);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(positions.size() * 4), positions.data(), GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 12, nullptr);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    if (narrow)
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(narrowIndices.size() * 2), narrowIndices.data(),
                     GL_STATIC_DRAW);
    else
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indices.size() * 4), indices.data(), GL_STATIC_DRAW);
    glUseProgram(program);
    const rv::Mat4 wvp = viewProjection();
    glUniformMatrix4fv(glGetUniformLocation(program, "uWorldViewProjection"), 1, GL_FALSE, wvp.data());

    auto frame = [&] {
        glBindFramebuffer(GL_FRAMEBUFFER, device.framebuffer());
        glViewport(0, 0, 1280, 720);
        glClearColor(0.5f, 0.5f, 0.5f, 1);
        glClearDepth(1.0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CW);
        glDrawElements(GL_TRIANGLES, GLsizei(indices.size()), narrow ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT, nullptr);
        device.present();
    };
    frame();
    for (auto _ : state)
        frame();
    state.counters["triangles"] = double(indices.size() / 3);
    state.SetItemsProcessed(state.iterations());
    glDeleteBuffers(2, buffers);
    glDeleteVertexArrays(1, &vao);
    glDeleteProgram(program);
}
BENCHMARK(floorFrame)->Arg(0)->Arg(4)->Unit(benchmark::kMillisecond)->UseRealTime();

// Render mode 0 and 3 frames, and mode 3 through the effect path in and out of focus; with range(1)
// set the model's bone moves every frame, so mode 3 re-skins and re-uploads its vertices; range(2)
// is the multisample count (4 with anti-aliasing).
void frame(benchmark::State& state) {
    rv::HeadlessDevice device;
    device.setSamples(int(state.range(2)));
    if (!device.create(1280, 720)) {
        state.SkipWithError("no OpenGL context");
        return;
    }
    rv::PreviewRenderer renderer;
    if (!renderer.init()) {
        state.SkipWithError("no program");
        return;
    }
    rv::Model m = gridModel();
    m.renderMode = std::uint32_t(state.range(0));
    const bool skinned = state.range(1) != 0;
    if (skinned) {
        rv::ModelBoneKey a, b;
        b.frame = 30;
        b.position = {0, 5, 0};
        m.bones[1].tracks.assign(1, rv::ModelBoneTrack{{a, b}, 1});
        for (rv::ModelSkinWeight& w : m.skin)
            w = {1, 0, 1.0f, 0};
    }
    rv::ModelInstance instance;
    rv::postLoad(m, instance);
    instance.playback.animating = skinned;

    rv::SceneView view;
    const rv::Vec3 eye = kEye, at = kAt;
    // range(3): the effect path (shadow map, scene, depth of field, blend, post effect); 2 puts
    // its focus three quarters of the way to the look-at point, along the same line (the light
    // stays), so that the far corner of the grid blurs.
    view.shaderMode = state.range(3) != 0;
    view.lightTarget = at;
    if (state.range(3) == 2)
        view.lightTarget = {eye.x + (at.x - eye.x) * 0.75f, eye.y + (at.y - eye.y) * 0.75f,
                            eye.z + (at.z - eye.z) * 0.75f};
    renderer.setEffectFolder(REVIZEVOZ_DATA_DIR);
    view.view = rv::lookAtLH(eye, at, {0, 1, 0});
    view.projection = rv::perspectiveFovLH(3.14159265f / 4, 1280.0f / 720.0f, 0.1f, 65536.0f);
    view.lightPosition = eye;
    // Frames until the preparation done beside drawing is in.
    for (int warm = 0; warm == 0 || (renderer.ordering() && warm < 500); ++warm) {
        renderer.modelPass(m, instance);
        renderer.drawScene(device.framebuffer(), 1280, 720, &m, &instance, view);
        device.present();
    }
    int triangles = 0;
    for (auto _ : state) {
        renderer.modelPass(m, instance);
        triangles = renderer.drawScene(device.framebuffer(), 1280, 720, &m, &instance, view).triangles;
        device.present();  // waits for the frame to finish
    }
    state.counters["triangles"] = triangles;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(frame)
    ->Args({3, 0, 0, 0})
    ->Args({3, 1, 0, 0})
    ->Args({0, 0, 0, 0})
    ->Args({3, 0, 4, 0})
    ->Args({3, 0, 0, 1})
    ->Args({3, 0, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void renderToPng(benchmark::State& state) {
    rv::Model m = gridModel();
    rv::ModelInstance instance;
    rv::postLoad(m, instance);
    if (const char* dir = std::getenv("REVIZEVOZ_BENCH_OUT")) {
        rv::WriteContext kzp;
        rv::writeKzp(m, kzp);
        if (FILE* f = std::fopen((std::string(dir) + "/preview_bench.kzp").c_str(), "wb")) {
            std::fwrite(kzp.bytes.data(), 1, kzp.bytes.size(), f);
            std::fclose(f);
        }
    }
    rv::HeadlessRenderOptions options;
    options.fit = true;
    for (auto _ : state) {
        m.renderModeDirty = 1;
        const std::optional<rv::Image> image = rv::renderHeadless(&m, &instance, options);
        if (!image) {
            state.SkipWithError("no OpenGL context");
            return;
        }
        benchmark::DoNotOptimize(rv::encodePng(*image));
    }
}
BENCHMARK(renderToPng)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN();
