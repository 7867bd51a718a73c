// MX read and write. An MX file holds at most 2,000 faces, so the full-size case is 2,000 quads;
// 65,000 quads measure how fast the writer refuses a model beyond the format.
#include <benchmark/benchmark.h>

#include "bench/bench_main.h"

#include "formats/mx/mx.h"
#include "tests/support/make_model.h"

namespace {

constexpr int kMaxFaces = 2000;

void mxWrite(benchmark::State& state) {
    const int quads = int(state.range(0));
    rv::Model m = rv::test::makeQuadGrid(quads);
    std::size_t bytes = 0;
    for (auto _ : state) {
        rv::WriteContext ctx;
        const bool refused = rv::writeMx(m, ctx).has_value();
        if (refused != (quads > kMaxFaces))
            state.SkipWithError("unexpected result");
        bytes = ctx.bytes.size();
        benchmark::DoNotOptimize(ctx.bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * quads);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(mxWrite)->Arg(kMaxFaces)->Arg(65000)->Unit(benchmark::kMicrosecond);

// Includes the welding the reader ends with.
void mxRead(benchmark::State& state) {
    rv::Model source = rv::test::makeQuadGrid(kMaxFaces);
    rv::WriteContext file;
    rv::writeMx(source, file);
    for (auto _ : state) {
        rv::Model m;
        rv::ReadContext ctx;
        if (rv::readMx(file.bytes, m, ctx))
            state.SkipWithError("read refused");
        benchmark::DoNotOptimize(m.polygons.data());
    }
    state.SetItemsProcessed(state.iterations() * kMaxFaces);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(file.bytes.size()));
}
BENCHMARK(mxRead)->Unit(benchmark::kMicrosecond);

}  // namespace

REVIZEVOZ_BENCHMARK_MAIN()
