// The preview on 65,000 quads: mode 3 preparation on the CPU, whole frames (model pass, drawing,
// present) at 1280 x 720 in the headless context, and a whole headless render to PNG bytes. With
// REVIZEVOZ_BENCH_OUT=DIR set, the model is also saved there as preview_bench.kzp for timing
// `revizevoz-cli render` on it.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "preview/headless_device.h"
#include "preview/headless_render.h"
#include "preview/prepare.h"
#include "preview/renderer.h"
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

// Render mode 0 and 3 frames, and mode 3 through the effect path; with range(1) set the model's bone moves every frame, so mode 3
// re-skins and re-uploads its vertices; range(2) is the multisample count (4 with anti-aliasing).
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

    // The whole 255 x 255 grid in view from above one corner.
    rv::SceneView view;
    const rv::Vec3 eye{-60, 220, -60}, at{128, 0, 128};
    // range(3): the effect path (shadow map, scene, depth of field, blend, post effect).
    view.shaderMode = state.range(3) != 0;
    view.lightTarget = at;
    renderer.setEffectFolder(REVIZEVOZ_DATA_DIR);
    view.view = rv::lookAtLH(eye, at, {0, 1, 0});
    view.projection = rv::perspectiveFovLH(3.14159265f / 4, 1280.0f / 720.0f, 0.1f, 65536.0f);
    view.lightPosition = eye;
    renderer.modelPass(m, instance);
    renderer.drawScene(device.framebuffer(), 1280, 720, &m, &instance, view);
    device.present();
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
