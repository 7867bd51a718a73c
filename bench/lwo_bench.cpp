// LightWave object read and write of 65,000 quads. The grid is welded (65,536 shared points: LWO
// indexes points with 16 bits) and its colours coarsened to 16 steps of green so that they fit the
// 32,767 surfaces an LWO file can name.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cmath>

#include "formats/lwo/lwo.h"
#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;

rv::Model lwoGrid() {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
    for (rv::ModelColor& c : m.colors)
        c.green = std::floor(c.green / 16) * 16;
    rv::weldModel(m);
    return m;
}

void lwoWrite(benchmark::State& state) {
    rv::Model m = lwoGrid();
    std::size_t bytes = 0;
    for (auto _ : state) {
        rv::WriteContext ctx;
        if (rv::writeLwo(m, ctx))
            state.SkipWithError("write refused");
        bytes = ctx.bytes.size();
        benchmark::DoNotOptimize(ctx.bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * kQuads);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(lwoWrite)->Unit(benchmark::kMillisecond);

// Includes the normal computation the reader ends with.
void lwoRead(benchmark::State& state) {
    rv::Model source = lwoGrid();
    rv::WriteContext file;
    rv::writeLwo(source, file);
    for (auto _ : state) {
        rv::Model m;
        rv::ReadContext ctx;
        if (rv::readLwo(file.bytes, m, ctx))
            state.SkipWithError("read refused");
        benchmark::DoNotOptimize(m.polygons.data());
    }
    state.SetItemsProcessed(state.iterations() * kQuads);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.bytes.size()));
}
BENCHMARK(lwoRead)->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
