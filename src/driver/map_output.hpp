// One map file's output (the single-map form, and each file or sheet of --out-dir): the format by
// the output's extension (output_formats.hpp), its source built, its writer run, through the one
// output path (output_session.hpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/render_settings.hpp"
#include "driver/output_session.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "platform/platform.hpp"
#include "render/page_builder.hpp"

namespace chizuvec {

struct WriteResult {
    WriteStatus status = WriteStatus::ok;
    std::int64_t size = 0;  // ok: bytes in the file written (0 for a device or pipe)
    PageNotes notes;        // how a printed page came out
};

// Writes the output of the parcels selected by `map_no` in the format of the output's extension.
// The dataset is only read. `source_width` is measure_source_text(settings), measured now when not
// given; `print`, `sheet`, `selection` and `focus` as build_drawing. The output is refused (output_is_input)
// when it is one of the files `rules` names, or, without rules, the input.
WriteResult write_map_output(const std::string& output_path, const std::string& input_path, std::string_view map_no,
                             const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings,
                             const MapDataset& dataset, std::optional<std::int32_t> source_width = std::nullopt,
                             const PrintOptions& print = {}, const MapSheet* sheet = nullptr,
                             const platform::OutputRules* rules = nullptr,
                             const std::vector<std::uint32_t>* selection = nullptr,
                             const DrawingFocus* focus = nullptr);

// What would fit the paper instead: "try --paper A1, or --scale 1500" (the paper with the
// orientation asked for, when one was), or "try --scale 1500" when no paper is large enough.
std::string fit_hint_text(const PaperSize* paper, PaperOrientation orientation, std::uint32_t scale);

// Writes a page built elsewhere (the release diff's) in the page format of the output's extension.
WriteStatus write_page_output(const std::string& output_path, const Drawing& drawing,
                              const platform::OutputRules& rules);

}  // namespace chizuvec
