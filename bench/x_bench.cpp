// Reading a generated .x of 65,000 triangle faces as text, binary and compressed binary (parse,
// merge and the reader's model building, welding included), the parse alone, writing it in each
// form, and a compressed file converted to binary.
// With REVIZEVOZ_BENCH_OUT=DIR set, the two files are also saved there for timing other tools.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/x/x.h"
#include "formats/x/x_mesh.h"
#include "formats/x/x_parser.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kFaces = 65000;

std::vector<std::byte> fileOf(rv::XForm form) {
    rv::Model grid = rv::test::makeQuadGrid(kFaces / 2);
    rv::WriteContext ctx;
    ctx.xForm = form;
    rv::writeX(grid, ctx);
    return ctx.bytes;
}
std::vector<std::byte> binaryFile() { return fileOf(rv::XForm::Binary); }

// The same mesh as text, as D3DX prints it (six decimals, ";," between elements).
std::vector<std::byte> textFile(const std::vector<std::byte>& binary) {
    rv::XDocument doc;
    rv::XMesh mesh;
    rv::parseX(binary, doc);
    rv::buildXMesh(doc, mesh);
    std::string s = "xof 0303txt 0032\nMesh {\n " + std::to_string(mesh.positions.size()) + ";\n";
    char line[128];
    auto vectors = [&](const auto& table, int n) {
        for (std::size_t i = 0; i < table.size(); ++i) {
            const char* end = i + 1 < table.size() ? ";," : ";;";
            if (n == 3)
                std::snprintf(line, sizeof line, " %f;%f;%f%s\n", table[i][0], table[i][1], table[i][2], end);
            else
                std::snprintf(line, sizeof line, " %f;%f%s\n", table[i][0], table[i][1], end);
            s += line;
        }
    };
    auto faces = [&] {
        s += " " + std::to_string(mesh.triangles.size()) + ";\n";
        for (std::size_t i = 0; i < mesh.triangles.size(); ++i) {
            const auto& t = mesh.triangles[i];
            std::snprintf(line, sizeof line, " 3;%u,%u,%u;%s\n", t[0], t[1], t[2],
                          i + 1 < mesh.triangles.size() ? "," : ";");
            s += line;
        }
    };
    vectors(mesh.positions, 3);
    faces();
    s += " MeshNormals {\n " + std::to_string(mesh.normals.size()) + ";\n";
    vectors(mesh.normals, 3);
    faces();
    s += " }\n MeshTextureCoords {\n " + std::to_string(mesh.uvs.size()) + ";\n";
    vectors(mesh.uvs, 2);
    s += " }\n MeshMaterialList {\n 1;\n " + std::to_string(mesh.triangles.size()) + ";\n";
    for (std::size_t i = 0; i < mesh.triangles.size(); ++i)
        s += i + 1 < mesh.triangles.size() ? " 0,\n" : " 0;\n";
    s += "  Material {\n   1.000000;1.000000;1.000000;1.000000;;\n   0.000000;\n   0.000000;0.000000;0.000000;;\n"
         "   0.000000;0.000000;0.000000;;\n  }\n }\n}\n";
    const auto* p = reinterpret_cast<const std::byte*>(s.data());
    return std::vector<std::byte>(p, p + s.size());
}

const std::vector<std::byte>& binary() {
    static const std::vector<std::byte> file = binaryFile();
    return file;
}
// MSZIP-compressed binary, the form of most large .x files in the wild (car2.x among them).
const std::vector<std::byte>& compressed() {
    static const std::vector<std::byte> file = fileOf(rv::XForm::Compressed);
    return file;
}
const std::vector<std::byte>& text() {
    static const std::vector<std::byte> file = [] {
        std::vector<std::byte> t = textFile(binary());
        if (const char* dir = std::getenv("REVIZEVOZ_BENCH_OUT")) {
            for (const auto& [name, bytes] :
                 {std::pair<const char*, const std::vector<std::byte>*>{"x_bench_text.x", &t},
                  std::pair<const char*, const std::vector<std::byte>*>{"x_bench_binary.x", &binary()}}) {
                if (FILE* f = std::fopen((std::string(dir) + "/" + name).c_str(), "wb")) {
                    std::fwrite(bytes->data(), 1, bytes->size(), f);
                    std::fclose(f);
                }
            }
        }
        return t;
    }();
    return file;
}

void read(benchmark::State& state, const std::vector<std::byte>& file) {
    for (auto _ : state) {
        rv::Model m;
        rv::ReadContext ctx;
        if (rv::readX(file, m, ctx))
            state.SkipWithError("the file did not read");
        benchmark::DoNotOptimize(m.polygons.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(file.size()));
    state.SetItemsProcessed(state.iterations() * kFaces);
}

void readText(benchmark::State& state) { read(state, text()); }
BENCHMARK(readText)->Unit(benchmark::kMillisecond);

void readBinary(benchmark::State& state) { read(state, binary()); }
BENCHMARK(readBinary)->Unit(benchmark::kMillisecond);

void parse(benchmark::State& state, const std::vector<std::byte>& file) {
    for (auto _ : state) {
        rv::XDocument doc;
        rv::XMesh mesh;
        if (rv::parseX(file, doc) || rv::buildXMesh(doc, mesh))
            state.SkipWithError("the file did not parse");
        benchmark::DoNotOptimize(mesh.triangles.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(file.size()));
    state.SetItemsProcessed(state.iterations() * kFaces);
}

void readCompressed(benchmark::State& state) { read(state, compressed()); }
BENCHMARK(readCompressed)->Unit(benchmark::kMillisecond);

void parseText(benchmark::State& state) { parse(state, text()); }
BENCHMARK(parseText)->Unit(benchmark::kMillisecond);

void parseBinary(benchmark::State& state) { parse(state, binary()); }
BENCHMARK(parseBinary)->Unit(benchmark::kMillisecond);

void parseCompressed(benchmark::State& state) { parse(state, compressed()); }
BENCHMARK(parseCompressed)->Unit(benchmark::kMillisecond);

// What `convert --to x` does between reading the file and writing the output: the compressed
// file read into a model (welding included) and written back as binary.
void convertCompressedToBinary(benchmark::State& state) {
    for (auto _ : state) {
        rv::Model m;
        rv::ReadContext ctx;
        rv::WriteContext out;
        if (rv::readX(compressed(), m, ctx) || rv::writeX(m, out))
            state.SkipWithError("the file did not convert");
        benchmark::DoNotOptimize(out.bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * kFaces);
}
BENCHMARK(convertCompressedToBinary)->Unit(benchmark::kMillisecond);

// The writer alone, from the model the binary file reads into (65,000 triangles over welded
// vertices), in each form.
void write(benchmark::State& state, rv::XForm form) {
    rv::Model m;
    rv::ReadContext ctx;
    rv::readX(binary(), m, ctx);
    std::size_t bytes = 0;
    for (auto _ : state) {
        rv::WriteContext out;
        out.xForm = form;
        if (rv::writeX(m, out))
            state.SkipWithError("the model did not write");
        bytes = out.bytes.size();
        benchmark::DoNotOptimize(out.bytes.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(bytes));
    state.SetItemsProcessed(state.iterations() * kFaces);
    state.counters["file_bytes"] = double(bytes);
}

void writeBinary(benchmark::State& state) { write(state, rv::XForm::Binary); }
BENCHMARK(writeBinary)->Unit(benchmark::kMillisecond);

void writeText(benchmark::State& state) { write(state, rv::XForm::Text); }
BENCHMARK(writeText)->Unit(benchmark::kMillisecond);

void writeCompressed(benchmark::State& state) { write(state, rv::XForm::Compressed); }
BENCHMARK(writeCompressed)->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
