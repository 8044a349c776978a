// One metaball field sample (three blob terms, the inverse sum and the height)
// in the 80-bit type: on the x87 unit as native builds run it, and in the software
// that WebAssembly builds run.
#include <benchmark/benchmark.h>

#include "scenekit/extended80.h"

namespace {

constexpr float BLOBS[3][2] = {{51.7f, 75.5f}, {108.6f, 56.9f}, {67.5f, 40.1f}};

template <class Add, class Subtract, class Multiply, class Divide>
float fieldSample(int x, int y, Add add, Subtract subtract, Multiply multiply, Divide divide) {
    Extended80 sum = 0;
    for (const auto& blob : BLOBS) {
        const Extended80 dx = subtract(blob[0], x);
        const Extended80 dy = subtract(blob[1], y);
        sum = add(sum, divide(3, add(add(multiply(dx, dx), multiply(dy, dy)), 1)));
    }
    const Extended80 inverse = divide(1, sum);
    const Extended80 height = inverse < Extended80(255) ? subtract(255, inverse) : Extended80(0);
    return multiply(height, 0.00392156862745098).toFloat();
}

void BM_Extended80FieldSample(benchmark::State& state) {
    const bool software = state.range(0) == 1;
    int i = 0;
    for (auto _ : state) {
        const int x = 5 * (i & 31);
        const int y = 5 * ((i >> 5) % 20);
        ++i;
        float value;
        if (software) {
            value = fieldSample(x, y, extended80_soft::add, extended80_soft::subtract,
                                extended80_soft::multiply, extended80_soft::divide);
        } else {
            value = fieldSample(
                x, y, [](Extended80 a, Extended80 b) { return a + b; },
                [](Extended80 a, Extended80 b) { return a - b; },
                [](Extended80 a, Extended80 b) { return a * b; },
                [](Extended80 a, Extended80 b) { return a / b; });
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_Extended80FieldSample)->ArgName("software")->Arg(0)->Arg(1);

}  // namespace
