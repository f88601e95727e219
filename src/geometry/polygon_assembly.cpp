#include "geometry/polygon_assembly.hpp"

#include <cstdint>
#include <new>

#include "model/id_index.hpp"
#include "common/text_format.hpp"

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

// Appends the outline of one surface. Returns false after printing the error that stops assembly.
bool append_outline(MapDataset& dataset, const Indexes& indexes, const MapSurface& surface,
                    std::uint32_t parcel_position, BoundingBox& bounds, std::FILE* messages) {
    std::uint32_t prev_start = 0;
    std::uint32_t prev_end = 0;
    // first_ref > last_ref is an empty run; 64-bit positions so last_ref = UINT32_MAX cannot loop forever.
    for (std::uint64_t r = surface.first_ref; r <= surface.last_ref; ++r) {
        const std::uint32_t curve_at = r < dataset.ring_curves.size()
                                           ? indexes.curves.find(dataset.ring_curves[static_cast<std::size_t>(r)])
                                           : kNoRecord;
        if (curve_at == kNoRecord) {
            std::fprintf(messages, "** Error n_curv i=%d\n", as_printf_int(parcel_position));
            return false;
        }
        const MapCurve& curve = dataset.curves[curve_at];
        const std::uint32_t start = curve.start_point_no;
        const std::uint32_t end = curve.end_point_no;
        // Reported, never repaired: the outline follows the stored order of the curves.
        if (r != surface.first_ref && start != prev_end) {
            std::fprintf(messages, "Illegal polygon %d %d %d %d\n", as_printf_int(prev_start), as_printf_int(prev_end), as_printf_int(start),
                         as_printf_int(end));
        }
        prev_start = start;
        prev_end = end;

        const std::uint32_t point_at = indexes.points.find(start);
        if (point_at == kNoRecord) {
            std::fprintf(messages, "** Error npos\n");
            return false;
        }
        dataset.vertex_index_list.push_back(point_at);
        widen(bounds, dataset.points[point_at]);
    }
    return true;
}

}  // namespace

std::uint32_t assemble_outlines(MapDataset& dataset, std::string_view map_no, BoundingBox& bounds,
                                std::FILE* messages) {
    bounds.min_x = kLargestDouble;
    bounds.max_x = -kLargestDouble;
    bounds.min_y = kLargestDouble;
    bounds.max_y = -kLargestDouble;
    // Parcels that assembly never reaches (unselected, or after a stopping error) keep no range.
    for (Parcel& parcel : dataset.parcels) parcel.has_outline = false;
    dataset.vertex_index_list.clear();
    if (dataset.parcels.empty()) return 0;

    try {
        Indexes indexes;
        indexes.surfaces = build_id_index(dataset.surfaces);
        indexes.curves = build_id_index(dataset.curves);
        indexes.points = build_id_index(dataset.points);

        for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
            Parcel& parcel = dataset.parcels[j];
            if (!parcel_selected(parcel, map_no)) continue;
            const std::uint32_t surface_at = indexes.surfaces.find(parcel.shape_no);
            if (surface_at == kNoRecord) {
                std::fprintf(messages, "** Error idref=F%d not found in H%d\n", as_printf_int(parcel.shape_no),
                             as_printf_int(parcel.id_no));
                return 0;
            }
            if (!append_outline(dataset, indexes, dataset.surfaces[surface_at], static_cast<std::uint32_t>(j), bounds,
                                messages)) {
                return 0;
            }
            // n - 1, wrapping to UINT32_MAX for an empty outline before any entry.
            parcel.last_vertex = static_cast<std::uint32_t>(dataset.vertex_index_list.size()) - 1u;
            parcel.has_outline = true;
        }
    } catch (const std::bad_alloc&) {
        // The parcel being assembled has no range yet, so readers skip it and everything after it.
        std::fprintf(messages, "** Error: out of memory\n");
        return 0;
    }
    return static_cast<std::uint32_t>(dataset.vertex_index_list.size());
}

}  // namespace chizuvec
