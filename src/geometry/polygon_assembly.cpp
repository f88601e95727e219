#include "geometry/polygon_assembly.hpp"

#include <cstdint>
#include <new>

#include "common/fixed_text.hpp"
#include "model/id_index.hpp"

namespace chizuvec {
namespace {

constexpr double kLargestDouble = 1.7976931348623157e308;

void widen(BoundingBox& bounds, const MapPoint& point) {
    // Separate tests: the very first point sets minimum and maximum alike.
    if (point.x < bounds.min_x) bounds.min_x = point.x;
    if (point.x > bounds.max_x) bounds.max_x = point.x;
    if (point.y < bounds.min_y) bounds.min_y = point.y;
    if (point.y > bounds.max_y) bounds.max_y = point.y;
}

// Lookups by identifier number, built once so that assembly stays linear in the outline entries.
struct Indexes {
    IdIndex surfaces;
    IdIndex curves;
    IdIndex points;
};

AssemblyMessage message(AssemblyMessage::Kind kind, std::uint32_t a = 0, std::uint32_t b = 0, std::uint32_t c = 0,
                        std::uint32_t d = 0) {
    return AssemblyMessage{kind, {a, b, c, d}};
}

// Appends the outline of one surface. Returns the status that stops assembly, or ok.
AssemblyStatus append_outline(MapDataset& dataset, const Indexes& indexes, const MapSurface& surface,
                              std::uint32_t parcel_position, BoundingBox& bounds, AssemblyResult& result) {
    std::uint32_t prev_start = 0;
    std::uint32_t prev_end = 0;
    // first_ref > last_ref is an empty run; 64-bit positions so last_ref = UINT32_MAX cannot loop forever.
    for (std::uint64_t r = surface.first_ref; r <= surface.last_ref; ++r) {
        const std::uint32_t curve_at = r < dataset.ring_curves.size()
                                           ? indexes.curves.find(dataset.ring_curves[static_cast<std::size_t>(r)])
                                           : kNoRecord;
        if (curve_at == kNoRecord) {
            result.messages.push_back(message(AssemblyMessage::Kind::curve_not_found, parcel_position));
            return AssemblyStatus::curve_not_found;
        }
        const MapCurve& curve = dataset.curves[curve_at];
        const std::uint32_t start = curve.start_point_no;
        const std::uint32_t end = curve.end_point_no;
        // Reported, never repaired: the outline follows the stored order of the curves.
        if (r != surface.first_ref && start != prev_end) {
            result.messages.push_back(
                message(AssemblyMessage::Kind::illegal_polygon, prev_start, prev_end, start, end));
        }
        prev_start = start;
        prev_end = end;

        const std::uint32_t point_at = indexes.points.find(start);
        if (point_at == kNoRecord) {
            result.messages.push_back(message(AssemblyMessage::Kind::point_not_found));
            return AssemblyStatus::point_not_found;
        }
        dataset.vertex_index_list.push_back(point_at);
        widen(bounds, dataset.points[point_at]);
    }
    return AssemblyStatus::ok;
}

AssemblyStatus assemble_selected(MapDataset& dataset, BoundingBox& bounds, AssemblyResult& result) {
    Indexes indexes;
    indexes.surfaces = build_id_index(dataset.surfaces);
    indexes.curves = build_id_index(dataset.curves);
    indexes.points = build_id_index(dataset.points);
    // Each surface is outlined once, so the list never needs more than one entry per ring reference.
    dataset.vertex_index_list.reserve(dataset.ring_curves.size());
    // For each surface, the parcel whose outline run it has, once built.
    std::vector<std::uint32_t> built_by(dataset.surfaces.size(), kNoRecord);

    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        Parcel& parcel = dataset.parcels[j];
        if (!parcel.selected) continue;
        const std::uint32_t surface_at = indexes.surfaces.find(parcel.shape_no);
        if (surface_at == kNoRecord) {
            result.messages.push_back(message(AssemblyMessage::Kind::surface_not_found, parcel.shape_no, parcel.id_no));
            return AssemblyStatus::surface_not_found;
        }
        if (built_by[surface_at] != kNoRecord) {
            // A shared surface: its messages were given at its first parcel.
            const Parcel& first = dataset.parcels[built_by[surface_at]];
            parcel.first_vertex = first.first_vertex;
            parcel.vertex_count = first.vertex_count;
        } else {
            const auto first_vertex = static_cast<std::uint32_t>(dataset.vertex_index_list.size());
            const AssemblyStatus status = append_outline(dataset, indexes, dataset.surfaces[surface_at],
                                                         static_cast<std::uint32_t>(j), bounds, result);
            if (status != AssemblyStatus::ok) return status;
            parcel.first_vertex = first_vertex;
            parcel.vertex_count = static_cast<std::uint32_t>(dataset.vertex_index_list.size()) - first_vertex;
            built_by[surface_at] = static_cast<std::uint32_t>(j);
        }
        parcel.has_outline = true;
        result.drawn_points += parcel.vertex_count;
    }
    return AssemblyStatus::ok;
}

}  // namespace

void select_parcels(MapDataset& dataset, std::string_view map_no) {
    for (Parcel& parcel : dataset.parcels) {
        parcel.selected = map_no.empty() || map_no == field_view(parcel.map_no);
    }
    if (map_no.empty()) return;
    std::vector<bool> sheet_matches(dataset.sheet_map_nos.size());
    for (std::size_t k = 0; k < sheet_matches.size(); ++k) {
        sheet_matches[k] = field_view(dataset.sheet_map_nos[k].text) == map_no;
    }
    for (const SheetListing& listing : dataset.sheet_listings) {
        if (listing.map_no < sheet_matches.size() && sheet_matches[listing.map_no] &&
            listing.parcel < dataset.parcels.size()) {
            dataset.parcels[listing.parcel].selected = true;
        }
    }
}

AssemblyResult assemble_outlines(MapDataset& dataset, std::string_view map_no, BoundingBox& bounds) {
    bounds.min_x = kLargestDouble;
    bounds.max_x = -kLargestDouble;
    bounds.min_y = kLargestDouble;
    bounds.max_y = -kLargestDouble;
    AssemblyResult result;
    // Parcels that assembly never reaches (unselected, or after a stopping error) keep no range.
    for (Parcel& parcel : dataset.parcels) parcel.has_outline = false;
    dataset.vertex_index_list.clear();
    if (dataset.parcels.empty()) return result;

    try {
        select_parcels(dataset, map_no);
        result.status = assemble_selected(dataset, bounds, result);
    } catch (const std::bad_alloc&) {
        // The parcel being assembled has no range yet, so readers skip it and everything after it.
        result.status = AssemblyStatus::no_memory;
    }
    if (result.status == AssemblyStatus::ok) {
        result.entry_count = static_cast<std::uint32_t>(dataset.vertex_index_list.size());
    } else {
        result.drawn_points = 0;
    }
    return result;
}

}  // namespace chizuvec
