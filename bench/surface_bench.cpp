#include "image/surface.h"

#include <benchmark/benchmark.h>

// Creating and releasing the 160x100 render Surface: start-up cost only.
static void BM_SurfaceCreateRelease(benchmark::State& state) {
    Surface s;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.create({160, 100}, 4));
        s.release();
    }
}
BENCHMARK(BM_SurfaceCreateRelease);
