// Reading a .glb of 65,000 triangles (normals, uvs, four materials): the reader in memory, and the
// whole process of `revizevoz-cli info` against `assimp info` on the same file (medians of the
// repetitions). The file is written to REVIZEVOZ_BENCH_OUT (default /tmp) as gltf_read_bench.glb.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/gltf/gltf.h"
#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kTriangles = 65000;

// The quad grid with every quad split in two, so that the file holds plain triangle lists.
rv::Model triangleGrid() {
    rv::Model quads = rv::test::makeQuadGrid(kTriangles / 2, 4);
    rv::Model m = quads;
    m.polygons.clear();
    for (const rv::ModelPolygon& q : quads.polygons) {
        rv::ModelPolygon a = q, b = q;
        a.cornerCount = b.cornerCount = 3;
        b.corners = {q.corners[0], q.corners[2], q.corners[3], {}};
        m.polygons.push_back(a);
        m.polygons.push_back(b);
    }
    rv::computeNormals(m);
    return m;
}

const std::vector<std::byte>& glb() {
    static const std::vector<std::byte> bytes = [] {
        rv::WriteContext ctx;
        ctx.outputPath = "gltf_read_bench.glb";
        rv::writeGlb(triangleGrid(), ctx);
        return ctx.bytes;
    }();
    return bytes;
}

const std::string& glbFile() {
    static const std::string path = [] {
        const char* dir = std::getenv("REVIZEVOZ_BENCH_OUT");
        const std::string file = std::string(dir ? dir : "/tmp") + "/gltf_read_bench.glb";
        if (FILE* f = std::fopen(file.c_str(), "wb")) {
            std::fwrite(glb().data(), 1, glb().size(), f);
            std::fclose(f);
        }
        return file;
    }();
    return path;
}

void BM_ReadGlb(benchmark::State& state) {
    const std::vector<std::byte>& bytes = glb();
    for (auto _ : state) {
        rv::Model model;
        rv::ReadContext ctx;
        ctx.path = "gltf_read_bench.glb";
        if (rv::readGltf(bytes, model, ctx))
            state.SkipWithError("the file was refused");
        benchmark::DoNotOptimize(model.polygons.data());
    }
    state.SetItemsProcessed(state.iterations() * kTriangles);
    state.SetBytesProcessed(state.iterations() * std::int64_t(bytes.size()));
}
BENCHMARK(BM_ReadGlb)->Unit(benchmark::kMillisecond);

void wholeProcess(benchmark::State& state, const std::string& tool) {
    const std::string command = tool + " '" + glbFile() + "' >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError((tool + " failed").c_str());
}

void BM_CliInfo(benchmark::State& state) { wholeProcess(state, std::string("'") + REVIZEVOZ_CLI + "' info"); }
BENCHMARK(BM_CliInfo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly();

void BM_AssimpInfo(benchmark::State& state) {
    if (std::system("command -v assimp >/dev/null 2>&1") != 0) {
        state.SkipWithError("assimp is not installed");
        return;
    }
    wholeProcess(state, "assimp info");
}
BENCHMARK(BM_AssimpInfo)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Repetitions(11)
    ->ReportAggregatesOnly();

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN();
