// The number rules and the id lookup: they run once per coordinate, id and reference of a map file.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/numbers.hpp"
#include "model/id_index.hpp"
#include "model/map_dataset.hpp"

namespace {

using chizuvec::IdIndex;
using chizuvec::MapPoint;

// Coordinates as the map files write them: metres with three decimals, either sign.
std::vector<std::string> coordinate_texts(std::size_t count) {
    std::vector<std::string> texts;
    texts.reserve(count);
    std::uint64_t state = 12345;
    for (std::size_t i = 0; i < count; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const std::int64_t mm = static_cast<std::int64_t>((state >> 20) % 600000000) - 300000000;
        char text[32];
        std::snprintf(text, sizeof text, "%s%lld.%03lld</zmn:X>", mm < 0 ? "-" : "",
                      static_cast<long long>((mm < 0 ? -mm : mm) / 1000),
                      static_cast<long long>((mm < 0 ? -mm : mm) % 1000));
        texts.emplace_back(text);
    }
    return texts;
}

void BM_ParseDecimal(benchmark::State& state) {
    const std::vector<std::string> texts = coordinate_texts(4096);
    std::size_t bytes = 0;
    for (auto _ : state) {
        double sum = 0.0;
        for (const std::string& text : texts) sum += chizuvec::parse_decimal(text);
        benchmark::DoNotOptimize(sum);
    }
    for (const std::string& text : texts) bytes += text.size();
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_ParseDecimal);

// Values as the reader sees them: the rest of the line after the attribute's opening quote.
void BM_ParseIdNumber(benchmark::State& state) {
    std::vector<std::string> texts;
    for (std::uint32_t i = 1; i <= 4096; ++i) {
        char text[48];
        std::snprintf(text, sizeof text, "%c%09u\"/>", "PCFH"[i % 4], i * 37u);
        texts.emplace_back(text);
    }
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (const std::string& text : texts) sum += chizuvec::parse_id_number(text);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(texts.size()));
}
BENCHMARK(BM_ParseIdNumber);

// Records numbered 1, 2, 3, ... (the usual case, the dense table) or scattered over the 32-bit range
// (the hash map).
std::vector<MapPoint> numbered_points(std::size_t count, bool scattered) {
    std::vector<MapPoint> points(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto n = static_cast<std::uint32_t>(i + 1);
        points[i].id_no = scattered ? n * 2654435761u : n;
    }
    return points;
}

void BM_IdIndexBuild(benchmark::State& state) {
    const auto points = numbered_points(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        IdIndex index = chizuvec::build_id_index(points);
        benchmark::DoNotOptimize(index.size);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_IdIndexBuild)->ArgsProduct({{1000, 100000, 1000000}, {0, 1}})->ArgNames({"records", "scattered"});

// Looks up every record once, in an order unrelated to the array order, as curve references do.
void BM_IdIndexFind(benchmark::State& state) {
    const auto points = numbered_points(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    const IdIndex index = chizuvec::build_id_index(points);
    std::vector<std::uint32_t> queries;
    queries.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) queries.push_back(points[(i * 7919) % points.size()].id_no);
    for (auto _ : state) {
        std::uint64_t sum = 0;
        for (const std::uint32_t id_no : queries) sum += index.find(id_no);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(queries.size()));
}
BENCHMARK(BM_IdIndexFind)->ArgsProduct({{1000, 100000, 1000000}, {0, 1}})->ArgNames({"records", "scattered"});

}  // namespace
