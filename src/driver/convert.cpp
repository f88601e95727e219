#include "driver/convert.hpp"

#include <algorithm>
#include <new>
#include <span>
#include <unordered_map>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "driver/assembly_report.hpp"
#include "driver/csv_listing.hpp"
#include "driver/display_name.hpp"
#include "driver/drawing_focus.hpp"
#include "driver/failure_reasons.hpp"
#include "driver/highlights.hpp"
#include "driver/lookup_forms.hpp"
#include "driver/lot_report.hpp"
#include "driver/map_output.hpp"
#include "driver/parcel_listing.hpp"
#include "driver/read_report.hpp"
#include "geometry/parcel_measures.hpp"
#include "geometry/plane_projection.hpp"
#include "geometry/polygon_assembly.hpp"
#include "platform/platform.hpp"

namespace chizuvec {
namespace {

std::string statistics_line(const std::string& input_name, const MapDataset& d) {
    std::string line =
        format_text("%s: P=%u(max=%u) C=%u(%u) C-F=%u F=%u(%u) H=%u(%u)", display_name(input_name).c_str(),
                    d.point_count(), d.max_point_no, d.curve_count(), d.max_curve_no, d.ring_curve_count(),
                    d.surface_count(), d.max_surface_no, d.parcel_count(), d.max_parcel_no);
    if (d.unreadable_points != 0) {
        append_format(line, ", %u point%s could not be read", d.unreadable_points, d.unreadable_points == 1 ? "" : "s");
    }
    return line + "\n";
}

void write_drawing(const MapFile& file, const MapDataset& dataset, const MapHeader& header,
                   const ConvertContext& context, const ConvertRequest& request, const BoundingBox& bounds,
                   std::uint64_t entry_count, std::uint64_t drawn_points, const std::vector<std::uint32_t>* selection,
                   const MapSheet* sheet, DrawOutcome& d, const DrawingFocus* focus = nullptr);

constexpr std::size_t kLotsNamed = 10;

// The warning for parcels far from the rest of a whole-file drawing, naming the first of them.
std::string outliers_text(const MapDataset& dataset, const std::vector<std::uint32_t>& outliers, bool fit_core) {
    std::vector<std::string> names;
    for (std::size_t k = 0; k < outliers.size() && k < kLotsNamed; ++k) {
        names.push_back(display_utf8(field_view(dataset.parcels[outliers[k]].chiban)));
    }
    std::string list = name_list(names, kLotsNamed);
    if (outliers.size() > kLotsNamed) append_format(list, ", and %zu more", outliers.size() - kLotsNamed);
    const std::size_t n = outliers.size();
    return message_text(
        format_text("**Warning: %zu parcel%s more than %.0fx the median distance from the rest of the map (%s); %s\n",
                    n, n == 1 ? " lies" : "s lie", kOutlierFactor, list.c_str(),
                    fit_core ? "drawn without them" : "--fit-core draws the rest"));
}

// The title's words for a drawing around the lots at `named`: their lot numbers, then the map
// numbers of the sheets that list them, each once, in the order of the file.
std::string around_subject(const MapDataset& dataset, const std::vector<std::uint32_t>& named) {
    std::vector<std::string> lots;
    std::vector<std::string> sheets;
    const auto add = [](std::vector<std::string>& list, std::string_view text) {
        if (!text.empty() && std::find(list.begin(), list.end(), text) == list.end()) list.emplace_back(text);
    };
    std::vector<bool> is_named(dataset.parcels.size(), false);
    for (const std::uint32_t at : named) {
        is_named[at] = true;
        add(lots, field_view(dataset.parcels[at].chiban));
    }
    for (const SheetListing& listing : dataset.sheet_listings) {
        if (listing.parcel < is_named.size() && is_named[listing.parcel] &&
            listing.map_no < dataset.sheet_map_nos.size()) {
            add(sheets, field_view(dataset.sheet_map_nos[listing.map_no].text));
        }
    }
    for (const std::uint32_t at : named) add(sheets, field_view(dataset.parcels[at].map_no));
    std::string subject = "地番 " + name_list(lots, kLotsNamed) + " 周辺";
    if (!sheets.empty()) subject += "　図郭 " + name_list(sheets, kLotsNamed);
    return subject;
}

// The lots of --around with their neighbours: the box of their outlines grown by the margin, every
// parcel meeting it drawn and cut at its edge, the lots highlighted. A lot not there is an error.
void draw_around(const MapFile& file, MapDataset& dataset, const MapHeader& header, const ConvertContext& context,
                 const ConvertRequest& request, DrawOutcome& d) {
    const std::vector<LotFinding> findings = find_lots(dataset, request.around);
    for (std::size_t k = 0; k < findings.size(); ++k) {
        if (findings[k].found) continue;
        d.status = DrawStatus::failed;
        d.error = message_text(format_text("** Error: lot \"%s\" not found in %s\n",
                                           display_utf8(request.around_arguments[k]).c_str(),
                                           display_utf8(file.name).c_str()));
        return;
    }
    select_highlights(dataset, request.around);
    std::vector<std::uint32_t> named;
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        if (dataset.parcels[j].hilite != 0) named.push_back(static_cast<std::uint32_t>(j));
    }
    BoundingBox crop;
    if (!outline_box(dataset, named, crop)) {
        d.status = DrawStatus::failed;
        d.error = message_text(format_text("** Error: lot \"%s\" has no outline to draw around in %s\n",
                                           display_utf8(request.around_arguments.front()).c_str(),
                                           display_utf8(file.name).c_str()));
        return;
    }
    crop.min_x -= request.margin;
    crop.max_x += request.margin;
    crop.min_y -= request.margin;
    crop.max_y += request.margin;
    const CropSelection drawn = parcels_meeting(dataset, crop);
    DrawingFocus focus;
    focus.subject = around_subject(dataset, named);
    focus.clip = true;
    std::vector<std::string> keys = request.around;
    keys.insert(keys.end(), request.highlights.begin(), request.highlights.end());
    select_highlights(dataset, keys);
    if (request.typed_lookups) {
        d.notes = left_out_text(dataset) + lot_warnings_text(dataset, request.highlights, request.lot_arguments,
                                                             file.name, request.lots_told, d.map_no);
    }
    write_drawing(file, dataset, header, context, request, crop, drawn.drawn_points, drawn.drawn_points,
                  &drawn.selection, nullptr, d, &focus);
}

// Assembles and measures the parcels of `d.map_no`, then does the request's work with them. `sheet`
// is the first sheet of that number, for a printed page.
void convert_selection(const MapFile& file, MapDataset& dataset, const MapHeader& header, const ConvertContext& context,
                       const ConvertRequest& request, const MapSheet* sheet, FileOutcome& outcome, DrawOutcome& d) {
    BoundingBox bounds;
    // A CSV row per parcel, as a GIS feature per parcel: one broken shape leaves the others measured.
    const BrokenShapes broken_shapes = request.mode == ConvertMode::csv ? BrokenShapes::skip : BrokenShapes::stop;
    const AssemblyResult assembly = assemble_outlines(dataset, d.map_no, bounds, broken_shapes);
    d.messages = assembly_messages_text(assembly);
    if (assembly.status == AssemblyStatus::no_memory) {
        d.status = DrawStatus::failed;
        d.out_of_memory = true;
        return;
    }
    if (assembly.status == AssemblyStatus::too_many_points) {
        d.statistics = statistics_line(file.name, dataset);
        d.status = DrawStatus::failed;
        d.error = drawing_too_large_text(assembly.drawn_points);
        return;
    }
    measure_parcels(dataset);
    d.statistics = statistics_line(file.name, dataset);

    if (request.mode == ConvertMode::listing) {
        append_parcel_listing(outcome.listing, dataset, context.console_code_page, context.ansi_code_page, file.name,
                              field_view(header.map_name), field_view(header.coord_system));
        return;
    }
    if (request.mode == ConvertMode::gis) {
        const std::string map_file = platform::convert_code_page(platform::path_file_name(file.name),
                                                                 context.ansi_code_page, platform::kCodePageUtf8);
        FeatureBuildOptions options;
        options.map_file = map_file;
        options.coordinates = outcome.gis_coordinates;
        options.zone = plane_zone_of(field_view(header.coord_system));
        options.include_outside = request.include_outside;
        // The drawing's bound on outline points holds for the features too.
        options.max_points = kMaxDrawnPoints;
        if (const std::uint64_t points = build_parcel_features(dataset, header, options, outcome.features)) {
            d.status = DrawStatus::failed;
            d.error = drawing_too_large_text(points);
        }
        // The lots outside the district that the reader left out come first, as in the file.
        FeatureBatch& features = outcome.features;
        features.left_out += dataset.outside_parcels;
        std::vector<std::string> lots = dataset.outside_lots;
        lots.insert(lots.end(), features.left_out_lots.begin(), features.left_out_lots.end());
        if (lots.size() > FeatureBatch::kNamedShapeless) lots.resize(FeatureBatch::kNamedShapeless);
        features.left_out_lots = std::move(lots);
        return;
    }
    if (request.mode == ConvertMode::csv) {
        const std::string name = platform::convert_code_page(platform::path_file_name(file.name),
                                                             context.ansi_code_page, platform::kCodePageUtf8);
        outcome.rows = RowBatch(std::size(kListingColumns));
        append_listing_rows(outcome.rows, dataset, name, field_view(header.coord_system));
        outcome.left_out = dataset.outside_parcels;
        return;
    }

    if (!request.around.empty()) {
        draw_around(file, dataset, header, context, request, d);
        return;
    }
    // A whole file with a few parcels far from the rest draws them in a corner of a blank page.
    const std::vector<std::uint32_t> outliers =
        d.map_no.empty() ? outlying_parcels(dataset) : std::vector<std::uint32_t>{};
    select_highlights(dataset, request.highlights);
    if (request.typed_lookups) {
        d.notes = left_out_text(dataset) + lot_warnings_text(dataset, request.highlights, request.lot_arguments,
                                                             file.name, request.lots_told, d.map_no);
    }
    BoundingBox core;
    if (!outliers.empty() && request.fit_core && outline_box(dataset, parcels_besides(dataset, outliers), core)) {
        const CropSelection drawn = parcels_meeting(dataset, core);
        DrawingFocus focus;
        focus.clip = true;
        write_drawing(file, dataset, header, context, request, core, drawn.drawn_points, drawn.drawn_points,
                      &drawn.selection, sheet, d, &focus);
    } else {
        write_drawing(file, dataset, header, context, request, bounds, assembly.entry_count, assembly.drawn_points,
                      nullptr, sheet, d);
    }
    if (!outliers.empty()) d.warning.insert(0, outliers_text(dataset, outliers, request.fit_core));
}

// Sheets of a file outlined whole: for each map number of `numbers`, the positions of the parcels
// it selects (a sheet with that number lists them, or it is their own map number), ascending, each
// once. One pass over the listings and parcels, however many sheets there are.
std::vector<std::vector<std::uint32_t>> sheet_selections(const MapDataset& dataset,
                                                         const std::vector<std::string>& numbers) {
    std::unordered_map<std::string_view, std::uint32_t> number_at;
    for (std::size_t i = 0; i < numbers.size(); ++i) number_at.emplace(numbers[i], static_cast<std::uint32_t>(i));
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    std::vector<std::uint32_t> of_sheet(dataset.sheet_map_nos.size(), kNone);
    for (std::size_t k = 0; k < of_sheet.size(); ++k) {
        const auto it = number_at.find(field_view(dataset.sheet_map_nos[k].text));
        if (it != number_at.end()) of_sheet[k] = it->second;
    }
    std::vector<std::vector<std::uint32_t>> selections(numbers.size());
    for (const SheetListing& listing : dataset.sheet_listings) {
        if (listing.map_no < of_sheet.size() && of_sheet[listing.map_no] != kNone &&
            listing.parcel < dataset.parcels.size()) {
            selections[of_sheet[listing.map_no]].push_back(listing.parcel);
        }
    }
    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        const auto it = number_at.find(field_view(dataset.parcels[j].map_no));
        if (it != number_at.end()) selections[it->second].push_back(static_cast<std::uint32_t>(j));
    }
    for (std::vector<std::uint32_t>& selection : selections) {
        std::sort(selection.begin(), selection.end());
        selection.erase(std::unique(selection.begin(), selection.end()), selection.end());
    }
    return selections;
}

constexpr double kLargestDouble = 1.7976931348623157e308;

// One sheet of a file whose every parcel is outlined and measured: its bounds and size from its own
// parcels' outlines, then its drawing.
void draw_sheet(const MapFile& file, const MapDataset& dataset, const MapHeader& header, const ConvertContext& context,
                const ConvertRequest& request, const std::vector<std::uint32_t>& selection, const MapSheet* sheet,
                DrawOutcome& d) {
    d.statistics = statistics_line(file.name, dataset);
    BoundingBox bounds{kLargestDouble, -kLargestDouble, kLargestDouble, -kLargestDouble};
    std::uint64_t drawn_points = 0;
    for (const std::uint32_t at : selection) drawn_points += parcel_outline(dataset, dataset.parcels[at]).size();
    (void)outline_box(dataset, selection, bounds);
    write_drawing(file, dataset, header, context, request, bounds, drawn_points, drawn_points, &selection, sheet, d);
}

// Draws the selection: the whole file's selected parcels, or the parcels at `selection`.
void write_drawing(const MapFile& file, const MapDataset& dataset, const MapHeader& header,
                   const ConvertContext& context, const ConvertRequest& request, const BoundingBox& bounds,
                   std::uint64_t entry_count, std::uint64_t drawn_points, const std::vector<std::uint32_t>* selection,
                   const MapSheet* sheet, DrawOutcome& d, const DrawingFocus* focus) {
    if (entry_count == 0) {
        // A sheet that is not there draws nothing for a reason the user can mend: an error.
        if (request.typed_lookups && selection == nullptr) {
            d.error = missing_sheet_text(dataset, file.name, d.map_no);
            if (!d.error.empty()) {
                d.status = DrawStatus::failed;
                return;
            }
        }
        d.status = DrawStatus::no_polygons;
        d.warning = "**Warning: No polygons to draw\n";
        if (request.typed_lookups) d.warning += map_sheets_text(dataset, file.name, d.map_no);
        return;
    }
    if (drawn_points > kMaxDrawnPoints) {
        d.status = DrawStatus::failed;
        d.error = drawing_too_large_text(drawn_points);
        return;
    }
    const WriteResult written =
        write_map_output(d.output_path, file.name, d.map_no, header, bounds, *context.settings, dataset,
                         context.source_width, context.print, sheet, &context.output_rules, selection, focus);
    d.finished_at = platform::monotonic_seconds();
    d.size = written.size;
    d.page = written.notes;
    if (written.notes.beyond_usual) {
        d.warning = format_text("**Warning: The drawing does not fit the paper at 1/10000; printed at 1/%u\n",
                                written.notes.scale);
    } else if (written.notes.overflows && !request.fit_told_by_caller) {
        d.warning = format_text(
            "**Warning: The drawing does not fit the paper at 1/%u: %s\n", written.notes.scale,
            fit_hint_text(written.notes.fitting_paper, context.print.orientation, written.notes.fitting_scale).c_str());
    }
    if (written.notes.left_out_of_key != 0) {
        std::string names;
        for (const std::string& lot : written.notes.first_left_out) names += (names.empty() ? "" : ", ") + lot;
        if (written.notes.left_out_of_key > written.notes.first_left_out.size()) names += ", ...";
        d.warning += message_text(
            format_text("**Warning: No room on the paper for %zu lot%s in the key of --label-all, left unnamed: %s\n",
                        written.notes.left_out_of_key, written.notes.left_out_of_key == 1 ? "" : "s", names.c_str()));
    }
    if (written.status == WriteStatus::ok) return;
    d.status = DrawStatus::failed;
    if (written.status == WriteStatus::no_memory) {
        d.out_of_memory = true;
        return;
    }
    d.error = output_error_text(written.status, d.output_path);
    if (request.typed_lookups) d.error += write_failure_reason(written.status, d.output_path);
}

// The coordinates of a map's features; false when its features are not to be built.
bool choose_gis_coordinates(const MapHeader& header, const ConvertRequest& request, FileOutcome& outcome) {
    outcome.coord_system = field_view(header.coord_system);
    if (plane_zone_of(outcome.coord_system) != 0) {
        outcome.gis_coordinates = GisCoordinates::geographic;
        return true;
    }
    if (outcome.coord_system != kArbitraryCoordSystem) {
        outcome.gis_status = GisFileStatus::unknown_coordinates;
        return false;
    }
    outcome.gis_coordinates = GisCoordinates::local;
    if (request.include_arbitrary) return true;
    outcome.gis_status = GisFileStatus::arbitrary;
    return false;
}

}  // namespace

std::vector<platform::FileId> input_file_ids(const std::vector<MapFile>& files, const std::vector<std::string>& paths) {
    std::vector<platform::FileId> ids;
    const auto add = [&](const std::string& path) {
        platform::FileId id;
        if (platform::file_id(path, id)) ids.push_back(id);
    };
    // The inner files of an archive share its path: each path is asked once.
    const std::string* last = nullptr;
    for (const MapFile& file : files) {
        if (last == nullptr || *last != file.path) add(file.path);
        last = &file.path;
    }
    for (const std::string& path : paths) add(path);
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

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
        ReadOptions options;
        // The CSV takes the 筆ID as written from the GIS detail, so that its rows join the features.
        options.gis_detail =
            request.mode == ConvertMode::gis || request.mode == ConvertMode::csv || request.mode == ConvertMode::sheets;
        // A sheet's count holds the lots outside the district it lists.
        options.keep_outside =
            (request.mode == ConvertMode::gis && request.include_outside) || request.mode == ConvertMode::sheets;
        options.survey_points = request.mode == ConvertMode::drawing && request.survey_points;
        const ReadResult read = reader.read(file, dataset, header, options);
        if (read.status != ReadStatus::ok) {
            outcome.read_failed = true;
            outcome.read_error = read_failure_text(read, file.name, file.inner_entry);
            return outcome;
        }
        const std::string cut_off =
            read.cut_off ? message_text(format_text("**Warning: \"%s\" ends before </地図>: it may be cut off\n",
                                                    display_utf8(file.name).c_str()))
                         : std::string();
        if (request.mode == ConvertMode::gis) outcome.read_warning = cut_off;
        if (request.mode == ConvertMode::drawing && !request.highlights.empty()) {
            for (const LotFinding& finding : find_lots(dataset, request.highlights)) {
                outcome.lots_found.push_back(finding.found);
            }
        }
        if (request.mode == ConvertMode::gis && !choose_gis_coordinates(header, request, outcome)) return outcome;
        if (request.mode == ConvertMode::sheets) {
            outcome.drawings.resize(1);
            append_sheet_listing(outcome.listing, dataset, context.console_code_page, context.ansi_code_page, file.name,
                                 field_view(header.map_name), field_view(header.coord_system));
            outcome.drawings[0].messages = cut_off;
            return outcome;
        }
        if (request.mode == ConvertMode::drawing && request.per_sheet) {
            const std::vector<std::string> numbers = listed_map_numbers(dataset);
            const std::vector<std::string> outputs = request.sheet_outputs(numbers);
            outcome.drawings.resize(numbers.size());
            // The file is outlined, measured and highlighted once; each sheet selects from it. A file
            // whose assembly stops is drawn sheet by sheet as before, so sheets without the broken
            // parcel are still drawn.
            BoundingBox whole;
            const AssemblyResult assembly = assemble_outlines(dataset, "", whole);
            const std::vector<const MapSheet*> sheets = find_sheets(dataset, numbers);
            std::vector<std::vector<std::uint32_t>> selections;
            if (assembly.status == AssemblyStatus::ok) {
                measure_parcels(dataset);
                select_highlights(dataset, request.highlights);
                selections = sheet_selections(dataset, numbers);
            }
            for (std::size_t i = 0; i < numbers.size(); ++i) {
                // An interrupt stops the file between two sheets; the sheets not drawn are dropped.
                if (platform::interrupt_requested()) {
                    outcome.drawings.resize(i);
                    outcome.stopped = true;
                    outcome.sheets = numbers.size();
                    break;
                }
                current = &outcome.drawings[i];
                current->map_no = numbers[i];
                current->output_path = outputs[i];
                if (assembly.status != AssemblyStatus::ok) {
                    convert_selection(file, dataset, header, context, request, sheets[i], outcome, *current);
                } else {
                    // Assembly's messages are the file's: given once, with its first sheet.
                    if (i == 0) current->messages = assembly_messages_text(assembly);
                    draw_sheet(file, dataset, header, context, request, selections[i], sheets[i], *current);
                }
                if (i == 0) current->messages.insert(0, cut_off);
            }
            return outcome;
        }
        outcome.drawings.resize(1);
        current = &outcome.drawings[0];
        current->map_no = request.typed_lookups ? matching_map_number(dataset, request.map_no) : request.map_no;
        current->output_path = request.output_path;
        const MapSheet* const sheet = current->map_no.empty() ? nullptr : find_sheet(dataset, current->map_no);
        convert_selection(file, dataset, header, context, request, sheet, outcome, *current);
        current->messages.insert(0, cut_off);
    } catch (const std::bad_alloc&) {
        outcome.listing.clear();
        outcome.rows.clear();
        outcome.features = FeatureBatch{};
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
