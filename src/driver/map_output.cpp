#include "driver/map_output.hpp"

#include <new>

#include "common/text_format.hpp"
#include "driver/output_formats.hpp"
#include "render/svg_text.hpp"

namespace chizuvec {
namespace {

WriteStatus status_of(PageStatus status) {
    switch (status) {
        case PageStatus::ok:
            return WriteStatus::ok;
        case PageStatus::unavailable:
            return WriteStatus::unavailable;
        case PageStatus::no_memory:
            return WriteStatus::no_memory;
        case PageStatus::failed:
            break;
    }
    return WriteStatus::failed;
}

}  // namespace

std::string fit_hint_text(const PaperSize* paper, PaperOrientation orientation, std::uint32_t scale) {
    if (paper == nullptr) return format_text("try --scale %u", scale);
    const char* suffix = orientation == PaperOrientation::landscape  ? "-landscape"
                         : orientation == PaperOrientation::portrait ? "-portrait"
                                                                     : "";
    return format_text("try --paper %.*s%s, or --scale %u", static_cast<int>(paper->name.size()), paper->name.data(),
                       suffix, scale);
}

WriteStatus write_page_output(const std::string& output_path, const Drawing& drawing,
                              const platform::OutputRules& rules) {
    const OutputFormat* const format = format_for_path(output_path, FormatKind::one_map);
    if (format == nullptr || format->source != OutputSource::page) return WriteStatus::unsupported_type;
    OutputSession output;
    WriteStatus status = output.open(output_path, rules, false);
    if (status != WriteStatus::ok) return status;
    if (!format->available) return WriteStatus::unavailable;
    status = status_of(format->write_page(output.stream(), drawing));
    std::int64_t size = 0;
    if (status == WriteStatus::ok && !output.commit(size)) status = WriteStatus::failed;
    return status;
}

WriteResult write_map_output(const std::string& output_path, const std::string& input_path, std::string_view map_no,
                             const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings,
                             const MapDataset& dataset, std::optional<std::int32_t> source_width,
                             const PrintOptions& print, const MapSheet* sheet, const platform::OutputRules* rules,
                             const std::vector<std::uint32_t>* selection, const DrawingFocus* focus) {
    WriteResult result;
    // Standard output, a device or a pipe named without extension gets the drawing as SVG.
    const bool as_named =
        output_path == "-" || (platform::path_exists(output_path) && !platform::is_regular_file(output_path));
    const OutputFormat* format = format_for_path(output_path, FormatKind::one_map);
    if (format == nullptr && as_named && platform::path_extension(output_path).empty()) format = format_named("svg");
    if (format == nullptr) return {WriteStatus::unsupported_type, 0, {}};
    // Replacing the map with its own drawing would lose the map.
    platform::OutputRules own_rules;
    if (rules == nullptr) {
        platform::FileId input;
        if (platform::file_id(input_path, input)) own_rules.inputs.push_back(input);
        rules = &own_rules;
    }

    Drawing drawing;
    if (format->source == OutputSource::page) {
        try {
            drawing = build_drawing(input_path, map_no, header, bounds, settings, dataset,
                                    source_width ? *source_width : measure_source_text(settings), print, sheet,
                                    &result.notes, selection, focus);
        } catch (const std::bad_alloc&) {
            result.status = WriteStatus::no_memory;
            return result;
        }
    }
    OutputSession output;
    result.status = output.open(output_path, *rules, output_path == "-");
    if (result.status != WriteStatus::ok) return result;
    if (!format->available) {
        result.status = WriteStatus::unavailable;
        return result;
    }
    if (format->source == OutputSource::page) {
        result.status = status_of(format->write_page(output.stream(), drawing));
    } else {
        CadSource source;
        source.dataset = &dataset;
        source.header = &header;
        source.input_path = input_path;
        source.map_no = map_no;
        source.selection = selection;
        source.sheet = sheet;
        source.settings = &settings;
        source.paper_scale = print.scale;
        result.status = status_of(format->write_parcels(output.stream(), source));
    }
    if (result.status == WriteStatus::ok && !output.commit(result.size)) result.status = WriteStatus::failed;
    return result;
}

}  // namespace chizuvec
