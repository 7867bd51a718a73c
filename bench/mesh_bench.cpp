// Mesh services on 65,000 quads (260,000 corners, every grid point repeated by its neighbours).
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;
constexpr int kCorners = kQuads * 4;

void weld(benchmark::State& state) {
    const rv::Model grid = rv::test::makeQuadGrid(kQuads);
    for (auto _ : state) {
        state.PauseTiming();
        rv::Model m = grid;
        state.ResumeTiming();
        rv::weldModel(m);
        benchmark::DoNotOptimize(m.positions.data());
    }
    state.SetItemsProcessed(state.iterations() * kCorners);
}
BENCHMARK(weld)->Unit(benchmark::kMillisecond);

void computeNormals(benchmark::State& state) {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
    for (auto _ : state) {
        rv::computeNormals(m);
        benchmark::DoNotOptimize(m.normals.data());
    }
    state.SetItemsProcessed(state.iterations() * kCorners);
}
BENCHMARK(computeNormals)->Unit(benchmark::kMillisecond);

void buildGroupMeshes(benchmark::State& state) {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
    rv::computeNormals(m);
    m.groups[0].materialParams[rv::kMirrorWord] = std::uint32_t(state.range(0));
    for (auto _ : state) {
        rv::buildGroupMeshes(m);
        benchmark::DoNotOptimize(m.groups[0].meshTriangles.data());
    }
    state.SetItemsProcessed(state.iterations() * kCorners);
}
BENCHMARK(buildGroupMeshes)->Arg(0)->Arg(1)->ArgName("mirror")->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
