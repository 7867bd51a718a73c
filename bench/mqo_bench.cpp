// Reading a Metasequoia text of 65,000 polygons (with texture coordinates, as Metasequoia writes
// them), normals included. The last face is a triangle so that the uv table (one entry per
// textured corner after entry 0) stays within 260,000 entries.
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include "formats/mqo/mqo.h"

namespace {

constexpr int kColumns = 250;
constexpr int kRows = 260;  // 250 x 260 = 65,000 faces

std::string makeMqoText(bool textured) {
    std::string text = "Metasequoia Document\r\nFormat Text Ver 1.0\r\n\r\n";
    text += "Material 1 {\r\n\t\"mat1\" col(0.800 0.800 0.800 1.000) dif(0.800) amb(0.600) emi(0.000) spc(0.000) "
            "power(5.00)";
    text += textured ? " tex(\"grid.png\")\r\n}\r\n" : "\r\n}\r\n";
    text += "Object \"grid\" {\r\n\tdepth 0\r\n\tfolding 0\r\n\tvisible 15\r\n\tlocking 0\r\n\tshading 1\r\n\tfacet "
            "59.5\r\n";
    char line[256];
    std::snprintf(line, sizeof line, "\tvertex %d {\r\n", (kColumns + 1) * (kRows + 1));
    text += line;
    for (int r = 0; r <= kRows; ++r) {
        for (int c = 0; c <= kColumns; ++c) {
            std::snprintf(line, sizeof line, "\t\t%.4f %.4f %.4f\r\n", c * 12.5 - 1562.5, (c * r % 17) * 0.75,
                          r * -12.5 + 1625.0);
            text += line;
        }
    }
    std::snprintf(line, sizeof line, "\t}\r\n\tface %d {\r\n", kColumns * kRows);
    text += line;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const int a = r * (kColumns + 1) + c;
            const int b = a + kColumns + 1;
            const double u0 = double(c) / kColumns, u1 = double(c + 1) / kColumns;
            const double v0 = double(r) / kRows, v1 = double(r + 1) / kRows;
            if (r == kRows - 1 && c == kColumns - 1)
                std::snprintf(line, sizeof line, "\t\t3 V(%d %d %d) M(0) UV(%.5f %.5f %.5f %.5f %.5f %.5f)\r\n", a, b,
                              b + 1, u0, v0, u0, v1, u1, v1);
            else
                std::snprintf(line, sizeof line,
                              "\t\t4 V(%d %d %d %d) M(0) UV(%.5f %.5f %.5f %.5f %.5f %.5f %.5f %.5f)\r\n", a, b, b + 1,
                              a + 1, u0, v0, u0, v1, u1, v1, u1, v0);
            text += line;
        }
    }
    text += "\t}\r\n}\r\nEof\r\n";
    return text;
}

void readMqo(benchmark::State& state) {
    const std::string text = makeMqoText(state.range(0) != 0);
    const auto bytes = std::as_bytes(std::span(text.data(), text.size()));
    for (auto _ : state) {
        rv::Model model;
        rv::ReadContext ctx;
        if (rv::readMqo(bytes, model, ctx) || model.polygonCount() != kColumns * kRows) {
            state.SkipWithError("the generated text did not read");
            break;
        }
        benchmark::DoNotOptimize(model.polygons.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
    state.SetItemsProcessed(std::int64_t(state.iterations()) * kColumns * kRows);
}
BENCHMARK(readMqo)->Arg(1)->Arg(0)->ArgName("textured")->Unit(benchmark::kMillisecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
