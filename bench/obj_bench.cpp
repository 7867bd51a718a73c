// Reading an OBJ of 65,000 triangles with texture coordinates and normals, as Blender writes one:
// the reader alone, and whole processes (`revizevoz-cli info` against `assimp info`), timed by the
// wall clock; run with --benchmark_repetitions=N to get medians.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include "formats/obj/obj.h"

namespace {

constexpr int kColumns = 250;
constexpr int kRows = 130;  // 250 x 130 quads, two triangles each: 65,000

std::string makeObjText() {
    std::string text = "# 65,000 triangles\nmtllib grid.mtl\no grid\n";
    char line[256];
    for (int r = 0; r <= kRows; ++r)
        for (int c = 0; c <= kColumns; ++c) {
            std::snprintf(line, sizeof line, "v %.6f %.6f %.6f\n", c * 0.125 - 15.625, (c * r % 17) * 0.0075,
                          r * 0.125 - 8.125);
            text += line;
        }
    for (int r = 0; r <= kRows; ++r)
        for (int c = 0; c <= kColumns; ++c) {
            std::snprintf(line, sizeof line, "vt %.6f %.6f\n", double(c) / kColumns, double(r) / kRows);
            text += line;
        }
    for (int r = 0; r <= kRows; ++r)
        for (int c = 0; c <= kColumns; ++c) {
            std::snprintf(line, sizeof line, "vn %.4f %.4f %.4f\n", 0.0, 1.0, 0.0);
            text += line;
        }
    text += "usemtl grid\ns 1\n";
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            const int a = r * (kColumns + 1) + c + 1, b = a + kColumns + 1;
            std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\nf %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, b,
                          b, b, b + 1, b + 1, b + 1, a, a, a, b + 1, b + 1, b + 1, a + 1, a + 1, a + 1);
            text += line;
        }
    return text;
}

// The generated file and its .mtl in a folder of their own, made once.
const std::string& objFile() {
    static const std::string path = [] {
        const auto dir = std::filesystem::temp_directory_path() / "revizevoz_obj_bench";
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "grid.obj", std::ios::binary) << makeObjText();
        std::ofstream(dir / "grid.mtl", std::ios::binary) << "newmtl grid\nKd 0.8 0.8 0.8\nd 1\n";
        return (dir / "grid.obj").string();
    }();
    return path;
}

void readObj(benchmark::State& state) {
    const std::string text = makeObjText();
    const auto bytes = std::as_bytes(std::span(text.data(), text.size()));
    for (auto _ : state) {
        rv::Model model;
        rv::ReadContext ctx;
        if (rv::readObj(bytes, model, ctx) || model.polygonCount() != 2 * kColumns * kRows) {
            state.SkipWithError("the generated text did not read");
            break;
        }
        benchmark::DoNotOptimize(model.polygons.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 2 * kColumns * kRows);
}
BENCHMARK(readObj)->Unit(benchmark::kMillisecond);

void runCommand(benchmark::State& state, const std::string& program) {
    const std::string command = program + " info '" + objFile() + "' >/dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError(("failed: " + command).c_str());
            break;
        }
}
void cliInfo(benchmark::State& state) { runCommand(state, REVIZEVOZ_CLI); }
void assimpInfo(benchmark::State& state) { runCommand(state, "assimp"); }
BENCHMARK(cliInfo)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(assimpInfo)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
