#include <benchmark/benchmark.h>

#include <vector>

#include "data/console_font.h"
#include "tests/text_table_reference.h"
#include "textmode/text_converter.h"
#include "textmode/text_tables.h"

// Start-up cost of the text-mode tables: a converter's build of each mode (from
// the cells worked out at build time), and the fast table fills that work them
// out against the exhaustive reference on the same candidates.
static void BM_BuildShadeConverter(benchmark::State& state) {
    TextConverter converter;
    for (auto _ : state) {
        converter.build(1);
        benchmark::DoNotOptimize(converter.table());
    }
    converter.release();
}
BENCHMARK(BM_BuildShadeConverter)->Unit(benchmark::kMillisecond);

static void BM_BuildGlyphConverter(benchmark::State& state) {
    TextConverter converter;
    for (auto _ : state) {
        converter.build(0);
        benchmark::DoNotOptimize(converter.table());
    }
    converter.release();
}
BENCHMARK(BM_BuildGlyphConverter)->Unit(benchmark::kMillisecond);

static void BM_BuildBothConverters(benchmark::State& state) {
    TextConverter glyphs, shades;
    for (auto _ : state) {
        glyphs.build(0);
        shades.build(1);
        benchmark::DoNotOptimize(glyphs.table());
        benchmark::DoNotOptimize(shades.table());
    }
    glyphs.release();
    shades.release();
}
BENCHMARK(BM_BuildBothConverters)->Unit(benchmark::kMillisecond);

template <bool kFast>
static void BM_ShadeTableFill(benchmark::State& state) {
    ShadeCandidate candidates[SHADE_CANDIDATES_MAX];
    const size_t count = buildShadeCandidates(candidates);
    std::vector<uint8_t> table(TEXT_TABLE_SIZE * 4);
    for (auto _ : state) {
        if (kFast) {
            fillShadeTable(candidates, count, table.data());
        } else {
            referenceShadeTable(candidates, count, table.data());
        }
        benchmark::DoNotOptimize(table.data());
    }
}
BENCHMARK(BM_ShadeTableFill<true>)->Name("BM_ShadeTableFill/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShadeTableFill<false>)
    ->Name("BM_ShadeTableFill/reference")
    ->Unit(benchmark::kMillisecond);

template <bool kFast>
static void BM_GlyphTableFill(benchmark::State& state) {
    static GlyphCandidate candidates[GLYPH_CANDIDATES_MAX];
    const size_t count = buildGlyphCandidates(chooseGlyphLevels(CONSOLE_FONT), candidates);
    std::vector<uint8_t> table(TEXT_TABLE_SIZE * 4);
    for (auto _ : state) {
        if (kFast) {
            fillGlyphTable(candidates, count, table.data());
        } else {
            referenceGlyphTable(candidates, count, table.data());
        }
        benchmark::DoNotOptimize(table.data());
    }
}
BENCHMARK(BM_GlyphTableFill<true>)->Name("BM_GlyphTableFill/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlyphTableFill<false>)
    ->Name("BM_GlyphTableFill/reference")
    ->Unit(benchmark::kMillisecond);
