// The whole drawing run on any bytes as a map file: read, assemble, measure, highlight, write the
// document. The document must be written, be well-formed XML whatever texts the map holds, and hold
// no "nan" or "inf" unless the map file does.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/fixed_text.hpp"
#include "config/render_settings.hpp"
#include "driver/highlights.hpp"
#include "driver/map_output.hpp"
#include "fuzz_support.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/polygon_assembly.hpp"
#include "mapxml/map_xml_reader.hpp"

namespace {

using namespace chizuvec;

RenderSettings shipped_settings() {
    RenderSettings settings{};
    if (read_render_settings(std::string(CHIZUVEC_SOURCE_DIR) + "/Chizuvec.ini", settings) != SettingsStatus::read) {
        std::fprintf(stderr, "cannot read the shipped Chizuvec.ini\n");
        std::abort();
    }
    // Measuring the source line loads a font on every call; the layout is fuzzed without it.
    copy_text(settings.svg_text_source, "");
    return settings;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const RenderSettings base = shipped_settings();
    const std::string input = fuzz::write_scratch_file("map.xml", data, size);
    MapDataset dataset;
    MapHeader header;
    const ReadStatus status = read_map_xml(input, dataset, header).status;
    // What is no map file (or reads as an archive by its first bytes) has nothing to draw.
    if (status == ReadStatus::not_map_xml || status == ReadStatus::zip_failed || status == ReadStatus::not_found ||
        status == ReadStatus::no_map_file) {
        return 0;
    }
    if (status != ReadStatus::ok) std::abort();

    // The input's size picks the fixed side, the document kind and whether one sheet is drawn, so
    // every choice meets every map.
    RenderSettings settings = base;
    settings.svg_viewbox_side_option = static_cast<std::uint32_t>(1 + size % 4);
    const bool html = (size / 4) % 2 == 1;
    std::string map_no;
    if ((size / 8) % 2 == 1 && !dataset.parcels.empty()) map_no = field_view(dataset.parcels.front().map_no);

    dataset.vertex_index_list.reserve(dataset.ring_curve_count());
    BoundingBox bounds;
    const std::uint32_t entries = assemble_outlines(dataset, map_no, bounds).entry_count;
    measure_parcels(dataset);
    std::vector<std::string> keys;
    if (!dataset.parcels.empty()) keys.emplace_back(field_view(dataset.parcels.back().chiban));
    select_highlights(dataset, keys);
    if (entries == 0) return 0;  // the program draws nothing then

    const std::string output = fuzz::scratch_dir() + (html ? "/out.htm" : "/out.svg");
    if (write_map_output(output, input, map_no, header, bounds, settings, dataset).status != WriteStatus::ok) {
        std::abort();
    }
    const std::string document = fuzz::read_whole_file(output);
    std::remove(output.c_str());
    std::string why;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!fuzz::is_well_formed_xml(document, why)) {
        std::fprintf(stderr, "document not well-formed: %s\n", why.c_str());
        std::abort();
    }
    if (!fuzz::has_nan_or_inf(text) && fuzz::has_nan_or_inf(document)) {
        std::fprintf(stderr, "\"nan\" or \"inf\" in the document\n");
        std::abort();
    }
    return 0;
}
