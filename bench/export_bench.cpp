// Exporting the 65,000-quad grid to .glb, .obj and .mqo, in memory (building the document and serialising
// it), and to .mqo once more over 256 mirrored groups (as many objects). With REVIZEVOZ_BENCH_OUT=DIR set, a grid of half as many quads is also saved there as .x (its
// 65,000 triangles are the most a model loads with) for timing the CLI and other tools on one source.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/gltf/gltf.h"
#include "formats/mqo/mqo.h"
#include "formats/obj/obj.h"
#include "formats/x/x.h"
#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;

const rv::Model& grid() {
    static const rv::Model model = [] {
        rv::Model m = rv::test::makeQuadGrid(kQuads, 4);
        rv::computeNormals(m);
        rv::postLoad(m);
        if (const char* dir = std::getenv("REVIZEVOZ_BENCH_OUT")) {
            rv::WriteContext x;
            rv::writeX(rv::test::makeQuadGrid(kQuads / 2, 4), x);
            if (FILE* f = std::fopen((std::string(dir) + "/export_bench.x").c_str(), "wb")) {
                std::fwrite(x.bytes.data(), 1, x.bytes.size(), f);
                std::fclose(f);
            }
        }
        return m;
    }();
    return model;
}

// The grid over 256 mirrored groups, its polygons dealt round them: 256 MQO objects, one per group.
const rv::Model& mirroredGroups() {
    static const rv::Model model = [] {
        rv::Model m = grid();
        m.groups.resize(256, m.groups[0]);
        for (rv::ModelGroup& g : m.groups)
            g.materialParams[rv::kMirrorWord] = 1;
        for (std::size_t i = 0; i < m.polygons.size(); ++i)
            m.polygons[i].group = std::int32_t(i % m.groups.size());
        return m;
    }();
    return model;
}

void exportTo(benchmark::State& state, rv::WriteFn write, const rv::Model& m = grid()) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        rv::WriteContext ctx;
        ctx.outputPath = "/nonexistent/export_bench.out";
        if (write(m, ctx))
            state.SkipWithError("the model did not write");
        bytes = ctx.bytes.size();
        for (const rv::OutputFile& side : ctx.sideFiles)
            bytes += side.bytes.size();
        benchmark::DoNotOptimize(ctx.bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(bytes));
    state.counters["output_bytes"] = double(bytes);
    state.SetItemsProcessed(state.iterations() * kQuads);
}

void writeGlb(benchmark::State& state) { exportTo(state, rv::writeGlb); }
BENCHMARK(writeGlb)->Unit(benchmark::kMillisecond);

void writeObj(benchmark::State& state) { exportTo(state, rv::writeObj); }
BENCHMARK(writeObj)->Unit(benchmark::kMillisecond);

void writeMqo(benchmark::State& state) { exportTo(state, rv::writeMqo); }
BENCHMARK(writeMqo)->Unit(benchmark::kMillisecond);

void writeMqoMirroredGroups(benchmark::State& state) { exportTo(state, rv::writeMqo, mirroredGroups()); }
BENCHMARK(writeMqoMirroredGroups)->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
