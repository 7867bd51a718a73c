// Full KZP save and load of 65,000 quads: writeKzp (with the group mesh rebuild) and the atomic
// file write, then the file read and readKzp (with the normal rebuild).
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"
#include <unistd.h>

#include <filesystem>
#include <string>

#include "formats/common/file_io.h"
#include "formats/kzp/kzp.h"
#include "model/mesh.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kQuads = 65000;

rv::Model loadedGrid() {
    rv::Model m = rv::test::makeQuadGrid(kQuads);
    rv::computeNormals(m);  // as a model that was just loaded
    return m;
}

std::string tempPath() {
    return (std::filesystem::temp_directory_path() / ("kzp_bench_" + std::to_string(::getpid()) + ".KZP")).string();
}

bool save(rv::Model& m, const std::string& path, std::size_t& bytes) {
    rv::WriteContext w;
    if (rv::writeKzp(m, w) || rv::writeFileAtomic(path, w.bytes))
        return false;
    bytes = w.bytes.size();
    return true;
}

bool load(const std::string& path, rv::Model& out) {
    const auto file = rv::readFile(path);
    rv::ReadContext ctx;
    ctx.path = path;
    return file && !rv::readKzp(*file, out, ctx);
}

void kzpSaveAndLoad(benchmark::State& state) {
    rv::Model m = loadedGrid();
    const std::string path = tempPath();
    std::size_t bytes = 0;
    for (auto _ : state) {
        rv::Model back;
        if (!save(m, path, bytes) || !load(path, back)) {
            state.SkipWithError("save or load failed");
            break;
        }
        benchmark::DoNotOptimize(back.polygons.data());
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes) * 2);
    state.counters["fileMB"] = double(bytes) / 1e6;
}
BENCHMARK(kzpSaveAndLoad)->Unit(benchmark::kMillisecond);

void kzpSave(benchmark::State& state) {
    rv::Model m = loadedGrid();
    const std::string path = tempPath();
    std::size_t bytes = 0;
    for (auto _ : state)
        if (!save(m, path, bytes)) {
            state.SkipWithError("save failed");
            break;
        }
    std::filesystem::remove(path);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(kzpSave)->Unit(benchmark::kMillisecond);

void kzpLoad(benchmark::State& state) {
    rv::Model m = loadedGrid();
    const std::string path = tempPath();
    std::size_t bytes = 0;
    if (!save(m, path, bytes)) {
        state.SkipWithError("save failed");
        return;
    }
    for (auto _ : state) {
        rv::Model back;
        if (!load(path, back)) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(back.polygons.data());
    }
    std::filesystem::remove(path);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(kzpLoad)->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
