// DXF read of 65,000 3DFACE entities (the quad grid of the tests), written as AutoCAD writes them:
// right-justified codes, a layer, six decimals.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <string>
#include <vector>

#include "formats/dxf/dxf.h"
#include "tests/support/make_model.h"

namespace {

std::vector<std::byte> gridDxf() {
    const rv::Model grid = rv::test::makeQuadGrid(rv::kMaxPolygons);
    std::string text = "  0\nSECTION\n  2\nENTITIES\n";
    char line[64];
    for (const rv::ModelPolygon& p : grid.polygons) {
        text += "  0\n3DFACE\n  8\nGRID\n";
        for (int c = 0; c < 4; ++c) {
            const rv::ModelVertex& v = grid.positions[p.corners[c % p.cornerCount].position];
            std::snprintf(line, sizeof line, " 1%d\n%.6f\n 2%d\n%.6f\n 3%d\n%.6f\n", c, v.x, c, v.y, c, v.z);
            text += line;
        }
    }
    text += "  0\nENDSEC\n  0\nEOF\n";
    const auto* bytes = reinterpret_cast<const std::byte*>(text.data());
    return std::vector<std::byte>(bytes, bytes + text.size());
}

void BM_DxfRead(benchmark::State& state) {
    const std::vector<std::byte> file = gridDxf();
    for (auto _ : state) {
        rv::Model model;
        rv::ReadContext ctx;
        if (rv::readDxf(file, model, ctx)) {
            state.SkipWithError("the generated file was refused");
            break;
        }
        benchmark::DoNotOptimize(model.positions.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * rv::kMaxPolygons);
}
BENCHMARK(BM_DxfRead)->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
