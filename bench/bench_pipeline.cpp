// The stages of one run on generated maps: reading (plain and zipped), assembly with the measures,
// and the drawing. Each stage is timed on its own; the input of a stage is prepared outside the loop.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "config/render_settings.hpp"
#include "driver/map_output.hpp"
#include "gen_map_core.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/polygon_assembly.hpp"
#include "mapxml/line_reader.hpp"
#include "mapxml/map_xml_reader.hpp"

namespace {

namespace fs = std::filesystem;
using namespace chizuvec;

struct GeneratedMap {
    std::string path;
    std::uintmax_t xml_bytes = 0;
    genmap::GenMapSummary summary;
};

// Maps made once per size and kind for the whole process, in a directory removed at exit.
class MapFiles {
  public:
    MapFiles() = default;
    MapFiles(const MapFiles&) = delete;
    MapFiles& operator=(const MapFiles&) = delete;
    ~MapFiles() {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    // nullptr when the map cannot be written.
    const GeneratedMap* get(std::uint32_t parcels, bool zip) {
        const auto key = std::make_pair(parcels, zip);
        const auto found = maps_.find(key);
        if (found != maps_.end()) return &found->second;
        GeneratedMap map;
        map.path = scratch("map" + std::to_string(parcels) + (zip ? ".zip" : ".xml"));
        genmap::GenMapOptions options;
        options.parcels = parcels;
        const int result = zip ? genmap::generate_map_zip(map.path, options, map.summary)
                               : genmap::generate_map_file(map.path, options, map.summary);
        if (result != genmap::kGenOk) return nullptr;
        if (!zip) map.xml_bytes = fs::file_size(map.path);
        return &maps_.emplace(key, std::move(map)).first->second;
    }

    std::string scratch(const std::string& name) {
        if (dir_.empty()) {
            const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
            dir_ = fs::temp_directory_path() / ("chizuvec_bench_" + std::to_string(stamp));
            fs::create_directories(dir_);
        }
        return (dir_ / name).string();
    }

  private:
    fs::path dir_;
    std::map<std::pair<std::uint32_t, bool>, GeneratedMap> maps_;
};

MapFiles& map_files() {
    static MapFiles files;
    return files;
}

// A map read, assembled and measured, ready for the stage under test. False with the state skipped
// when any step fails or assembly has something to report (a generated map must chain cleanly).
bool prepare(benchmark::State& state, std::uint32_t parcels, bool one_sheet, MapDataset& dataset, MapHeader& header,
             BoundingBox& bounds, std::string& map_no) {
    const GeneratedMap* map = map_files().get(parcels, false);
    if (map == nullptr) {
        state.SkipWithError("cannot generate the map");
        return false;
    }
    if (read_map_xml(map->path, dataset, header).status != ReadStatus::ok) {
        state.SkipWithError("read_map_xml failed");
        return false;
    }
    map_no = one_sheet ? map->summary.first_map_no : std::string();
    const AssemblyResult assembly = assemble_outlines(dataset, map_no, bounds);
    if (assembly.entry_count == 0 || !assembly.messages.empty()) {
        state.SkipWithError("assembly failed or warned on a generated map");
        return false;
    }
    measure_parcels(dataset);
    return true;
}

// The floor of any line reader: what `wc -l` does, counting LF bytes in large reads.
void BM_CountNewlines(benchmark::State& state) {
    const GeneratedMap* map = map_files().get(static_cast<std::uint32_t>(state.range(0)), false);
    if (map == nullptr) {
        state.SkipWithError("cannot generate the map");
        return;
    }
    constexpr std::size_t kBufferSize = std::size_t{256} << 10;
    const auto buffer = std::make_unique_for_overwrite<char[]>(kBufferSize);
    for (auto _ : state) {
        std::FILE* file = std::fopen(map->path.c_str(), "rb");
        if (file == nullptr) {
            state.SkipWithError("cannot open the map");
            break;
        }
        std::int64_t lines = 0;
        while (const std::size_t got = std::fread(buffer.get(), 1, kBufferSize, file)) {
            for (const char* p = buffer.get();
                 (p = static_cast<const char*>(
                      std::memchr(p, '\n', static_cast<std::size_t>(buffer.get() + got - p)))) != nullptr;
                 ++p) {
                ++lines;
            }
        }
        std::fclose(file);
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(map->xml_bytes));
}
BENCHMARK(BM_CountNewlines)->Arg(10000)->ArgName("parcels")->Unit(benchmark::kMillisecond);

// The line reader alone: every line of the map with the positions of its '<' bytes that the tag
// tests use.
void BM_ReadLines(benchmark::State& state) {
    const GeneratedMap* map = map_files().get(static_cast<std::uint32_t>(state.range(0)), false);
    if (map == nullptr) {
        state.SkipWithError("cannot generate the map");
        return;
    }
    for (auto _ : state) {
        LineReader reader;
        if (!reader.open_file(map->path)) {
            state.SkipWithError("cannot open the map");
            break;
        }
        Line line;
        std::int64_t tag_count = 0;
        while (reader.read_line(line)) tag_count += line.tags.count;
        benchmark::DoNotOptimize(tag_count);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(map->xml_bytes));
}
BENCHMARK(BM_ReadLines)->ArgsProduct({{10000}, {1}})->ArgNames({"parcels", "tags"})->Unit(benchmark::kMillisecond);

void BM_ReadMapXml(benchmark::State& state) {
    const auto parcels = static_cast<std::uint32_t>(state.range(0));
    const bool zip = state.range(1) != 0;
    const GeneratedMap* map = map_files().get(parcels, zip);
    const GeneratedMap* plain = map_files().get(parcels, false);
    if (map == nullptr || plain == nullptr) {
        state.SkipWithError("cannot generate the map");
        return;
    }
    for (auto _ : state) {
        MapDataset dataset;
        MapHeader header;
        if (read_map_xml(map->path, dataset, header).status != ReadStatus::ok || dataset.parcel_count() == 0) {
            state.SkipWithError("read_map_xml failed");
            break;
        }
        benchmark::DoNotOptimize(dataset.points.data());
    }
    // Bytes of XML, also for the archive, so the two rates compare.
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(plain->xml_bytes));
    state.counters["parcels"] = parcels;
}
BENCHMARK(BM_ReadMapXml)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->ArgNames({"parcels", "zip"})
    ->Unit(benchmark::kMillisecond);

void BM_AssembleAndMeasure(benchmark::State& state) {
    MapDataset dataset;
    MapHeader header;
    BoundingBox bounds;
    std::string map_no;
    if (!prepare(state, static_cast<std::uint32_t>(state.range(0)), state.range(1) != 0, dataset, header, bounds,
                 map_no)) {
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(assemble_outlines(dataset, map_no, bounds).entry_count);
        measure_parcels(dataset);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * dataset.parcel_count());
}
BENCHMARK(BM_AssembleAndMeasure)
    ->ArgsProduct({{10000, 100000}, {0, 1}})
    ->ArgNames({"parcels", "one_sheet"})
    ->Unit(benchmark::kMillisecond);

// Everything a listing needs, from the file to the areas: the part of a run that grows with the map.
void BM_ReadAssembleMeasure(benchmark::State& state) {
    const auto parcels = static_cast<std::uint32_t>(state.range(0));
    const GeneratedMap* map = map_files().get(parcels, false);
    if (map == nullptr) {
        state.SkipWithError("cannot generate the map");
        return;
    }
    for (auto _ : state) {
        MapDataset dataset;
        MapHeader header;
        BoundingBox bounds;
        if (read_map_xml(map->path, dataset, header).status != ReadStatus::ok) {
            state.SkipWithError("read_map_xml failed");
            break;
        }
        if (assemble_outlines(dataset, {}, bounds).entry_count == 0) {
            state.SkipWithError("assembly failed");
            break;
        }
        measure_parcels(dataset);
        benchmark::DoNotOptimize(dataset.parcels.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(map->xml_bytes));
    state.counters["parcels"] = parcels;
}
BENCHMARK(BM_ReadAssembleMeasure)->Arg(10000)->Arg(100000)->ArgName("parcels")->Unit(benchmark::kMillisecond);

void BM_WriteSvg(benchmark::State& state) {
    RenderSettings settings{};
    if (read_render_settings(std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini", settings) != SettingsStatus::read) {
        state.SkipWithError("cannot read Chizuvec.ini");
        return;
    }
    MapDataset dataset;
    MapHeader header;
    BoundingBox bounds;
    std::string map_no;
    const auto parcels = static_cast<std::uint32_t>(state.range(0));
    if (!prepare(state, parcels, state.range(1) != 0, dataset, header, bounds, map_no)) return;
    const std::string output = map_files().scratch("out.svg");
    const std::string input = map_files().get(parcels, false)->path;
    for (auto _ : state) {
        if (write_map_output(output, input, map_no, header, bounds, settings, dataset).status != WriteStatus::ok) {
            state.SkipWithError("write_map_output failed");
            break;
        }
    }
    std::error_code ignored;
    const std::uintmax_t size = fs::file_size(output, ignored);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_WriteSvg)
    ->ArgsProduct({{1000, 10000}, {0, 1}})
    ->ArgNames({"parcels", "one_sheet"})
    ->Unit(benchmark::kMillisecond);

}  // namespace
