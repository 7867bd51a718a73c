// The preview on 65,000 quads: mode 3 preparation on the CPU, and whole frames (model pass,
// drawing, present) at 1280 x 720 in the headless context.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include "model/mesh.h"
#include "preview/headless_device.h"
#include "preview/prepare.h"
#include "preview/renderer.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;

rv::Model gridModel() {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
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

// Render mode 0 and 3 frames; with range(1) set the model's bone moves every frame, so mode 3
// re-skins and re-uploads its vertices.
void frame(benchmark::State& state) {
    rv::HeadlessDevice device;
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
BENCHMARK(frame)->Args({3, 0})->Args({3, 1})->Args({0, 0})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN();
