#include "driver/convert.hpp"

#include <new>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "driver/assembly_report.hpp"
#include "driver/csv_listing.hpp"
#include "driver/highlights.hpp"
#include "driver/parcel_listing.hpp"
#include "driver/read_report.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/polygon_assembly.hpp"
#include "platform/platform.hpp"
#include "render/svg_writer.hpp"

namespace chizuvec {
namespace {

std::string statistics_line(const std::string& input_name, const MapDataset& d) {
    return format_text("%s: P=%u(max=%u) C=%u(%u) C-F=%u F=%u(%u) H=%u(%u)\n", input_name.c_str(), d.point_count(),
                       d.max_point_no, d.curve_count(), d.max_curve_no, d.ring_curve_count(), d.surface_count(),
                       d.max_surface_no, d.parcel_count(), d.max_parcel_no);
}

// The map numbers the sheets list, each once, in the order first met.
std::vector<std::string> listed_map_numbers(const MapDataset& dataset) {
    std::vector<std::string> numbers;
    for (const MapNumber& number : dataset.sheet_map_nos) {
        const std::string text(field_view(number.text));
        bool seen = false;
        for (const std::string& n : numbers) seen = seen || n == text;
        if (!seen) numbers.push_back(text);
    }
    return numbers;
}

// Assembles and measures the parcels of `d.map_no`, then does the request's work with them.
void convert_selection(const MapFile& file, MapDataset& dataset, const MapHeader& header, const ConvertContext& context,
                       const ConvertRequest& request, FileOutcome& outcome, DrawOutcome& d) {
    BoundingBox bounds;
    const AssemblyResult assembly = assemble_outlines(dataset, d.map_no, bounds);
    d.messages = assembly_messages_text(assembly);
    if (assembly.status == AssemblyStatus::no_memory) {
        d.status = DrawStatus::failed;
        d.out_of_memory = true;
        return;
    }
    measure_parcels(dataset);
    d.statistics = statistics_line(file.name, dataset);

    if (request.mode == ConvertMode::listing) {
        append_parcel_listing(outcome.listing, dataset, context.console_code_page, context.ansi_code_page, file.name,
                              field_view(header.map_name), field_view(header.coord_system));
        return;
    }
    if (request.mode == ConvertMode::csv) {
        const std::string name = platform::convert_code_page(platform::path_file_name(file.name),
                                                             context.ansi_code_page, platform::kCodePageUtf8);
        append_csv_rows(outcome.csv, dataset, name, field_view(header.coord_system));
        return;
    }

    select_highlights(dataset, request.highlights);
    if (assembly.entry_count == 0) {
        d.status = DrawStatus::no_polygons;
        d.warning = "**Warning: No polygons to draw\n";
        return;
    }
    if (assembly.drawn_points > kMaxDrawnPoints) {
        d.status = DrawStatus::failed;
        d.error = drawing_too_large_text(assembly.drawn_points);
        return;
    }
    const MapSheet* const sheet = d.map_no.empty() ? nullptr : find_sheet(dataset, d.map_no);
    const WriteResult written = write_svg(d.output_path, file.name, d.map_no, header, bounds, *context.settings,
                                          dataset, context.source_width, context.print, sheet);
    d.finished_at = platform::monotonic_seconds();
    d.size = written.size;
    if (written.notes.beyond_usual) {
        d.warning = format_text("**Warning: The drawing does not fit the paper at 1/10000; printed at 1/%u\n",
                                written.notes.scale);
    } else if (written.notes.overflows) {
        d.warning = format_text("**Warning: The drawing does not fit the paper at 1/%u\n", written.notes.scale);
    }
    if (written.status == WriteStatus::ok) return;
    d.status = DrawStatus::failed;
    if (written.status == WriteStatus::no_memory) {
        d.out_of_memory = true;
        return;
    }
    if (written.status == WriteStatus::unsupported_type) {
        d.error = format_text("** Error: Unsupported output file type \"%s\"\n", d.output_path.c_str());
    } else if (written.status == WriteStatus::pdf_unavailable) {
        d.error = "** Error: PDF output is not available in this build\n";
    } else if (written.status == WriteStatus::output_is_input) {
        d.error = format_text("** Error: Output file \"%s\" is the input file\n", d.output_path.c_str());
    } else {
        d.error = format_text("** Error: Cannot write output file \"%s\"\n", d.output_path.c_str());
    }
}

}  // namespace

bool FileOutcome::failed() const {
    if (read_failed) return true;
    for (const DrawOutcome& d : drawings) {
        if (d.status == DrawStatus::failed) return true;
    }
    return false;
}

FileOutcome convert_map_file(const MapFile& file, const ConvertContext& context, const ConvertRequest& request,
                             MapFileReader& reader) {
    FileOutcome outcome;
    DrawOutcome* current = nullptr;
    try {
        MapDataset dataset;
        MapHeader header;
        const ReadResult read = reader.read(file, dataset, header);
        if (read.status != ReadStatus::ok) {
            outcome.read_failed = true;
            outcome.read_error = read_failure_text(read);
            return outcome;
        }
        if (request.mode == ConvertMode::drawing && request.per_sheet) {
            const std::vector<std::string> numbers = listed_map_numbers(dataset);
            const std::vector<std::string> outputs = request.sheet_outputs(numbers);
            outcome.drawings.resize(numbers.size());
            for (std::size_t i = 0; i < numbers.size(); ++i) {
                current = &outcome.drawings[i];
                current->map_no = numbers[i];
                current->output_path = outputs[i];
                convert_selection(file, dataset, header, context, request, outcome, *current);
            }
            return outcome;
        }
        outcome.drawings.resize(1);
        current = &outcome.drawings[0];
        current->map_no = request.map_no;
        current->output_path = request.output_path;
        convert_selection(file, dataset, header, context, request, outcome, *current);
    } catch (const std::bad_alloc&) {
        outcome.listing.clear();
        outcome.csv.clear();
        if (current == nullptr) {
            // Reading itself reports its own shortage; this is the bookkeeping around it.
            outcome.read_failed = true;
            outcome.read_error = "** Error: code=2\n";
        } else {
            // Sheets after this one were never drawn.
            outcome.drawings.resize(static_cast<std::size_t>(current - outcome.drawings.data()) + 1);
            current->status = DrawStatus::failed;
            current->out_of_memory = true;
        }
    }
    return outcome;
}

}  // namespace chizuvec
