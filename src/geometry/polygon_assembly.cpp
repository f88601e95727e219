#include "geometry/polygon_assembly.hpp"

#include <cmath>
#include <cstdint>
#include <new>

#include "common/fixed_text.hpp"
#include "geometry/ring_extent.hpp"
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

// The position in `points` of a curve's point reference (a point number or a direct position), or
// kNoRecord.
std::uint32_t point_position(const MapDataset& dataset, const Indexes& indexes, std::uint32_t reference) {
    if ((reference & kDirectPosition) == 0) return indexes.points.find(reference);
    const std::uint32_t i = reference & ~kDirectPosition;
    return i < dataset.position_points ? dataset.point_count() + i : kNoRecord;
}

// A curve walked as the file means it: its references in its orientation. A plain segment (two
// point references, forward) is its start point and end point, as the curve record has them.
struct WalkedCurve {
    std::uint32_t first = 0;  // into gis.curve_points
    std::uint32_t count = 0;
    bool reversed = false;
    bool plain = true;

    std::uint32_t at(const MapDataset& dataset, std::uint32_t k) const {
        return dataset.gis.curve_points[reversed ? first + count - 1 - k : first + k];
    }
};

WalkedCurve walked_curve(const MapDataset& dataset, std::uint32_t curve_at) {
    WalkedCurve walk;
    if (curve_at >= dataset.gis.curves.size()) return walk;  // a curve without its points: plain
    const CurveRun& run = dataset.gis.curves[curve_at];
    walk = {run.first, run.count, run.reversed, !run.reversed && run.count <= 2};
    if (static_cast<std::uint64_t>(run.first) + run.count > dataset.gis.curve_points.size()) walk = {};
    for (std::uint32_t k = 0; walk.plain && k < walk.count; ++k)
        walk.plain = (walk.at(dataset, k) & kDirectPosition) == 0;
    return walk;
}

bool same_place(const MapDataset& dataset, std::uint32_t a, std::uint32_t b) {
    return a == b || (a != kNoRecord && b != kNoRecord && dataset.points[a].x == dataset.points[b].x &&
                      dataset.points[a].y == dataset.points[b].y);
}

// Appends one ring's vertices: each curve's points in its orientation but its last, which is where
// the next curve starts (a plain segment gives its start point). Returns the status that stops
// assembly, or ok.
AssemblyStatus append_ring(MapDataset& dataset, const Indexes& indexes, const RingRun& ring,
                           std::uint32_t parcel_position, AssemblyResult& result) {
    std::uint32_t prev_start = 0;
    std::uint32_t prev_end = 0;
    std::uint32_t prev_end_at = kNoRecord;
    // 64-bit positions, so that a run at the end of the 32-bit range cannot loop forever.
    const std::uint64_t first = ring.first_ref;
    for (std::uint64_t r = first; r < first + ring.count; ++r) {
        const std::uint32_t curve_at = r < dataset.ring_curves.size()
                                           ? indexes.curves.find(dataset.ring_curves[static_cast<std::size_t>(r)])
                                           : kNoRecord;
        if (curve_at == kNoRecord) {
            result.messages.push_back(message(AssemblyMessage::Kind::curve_not_found, parcel_position));
            return AssemblyStatus::curve_not_found;
        }
        const MapCurve& curve = dataset.curves[curve_at];
        const WalkedCurve walk = walked_curve(dataset, curve_at);
        if (walk.plain) {
            const std::uint32_t start = curve.start_point_no;
            const std::uint32_t end = curve.end_point_no;
            // Reported, never repaired: the outline follows the stored order of the curves.
            if (r != first && start != prev_end) {
                result.messages.push_back(
                    message(AssemblyMessage::Kind::illegal_polygon, prev_start, prev_end, start, end));
            }
            prev_start = start;
            prev_end = end;
            prev_end_at = indexes.points.find(end);
            const std::uint32_t point_at = indexes.points.find(start);
            if (point_at == kNoRecord) {
                result.messages.push_back(message(AssemblyMessage::Kind::point_not_found));
                return AssemblyStatus::point_not_found;
            }
            dataset.vertex_index_list.push_back(point_at);
            continue;
        }
        if (walk.count == 0) {
            result.messages.push_back(message(AssemblyMessage::Kind::point_not_found));
            return AssemblyStatus::point_not_found;
        }
        // Numbers in the message: a direct position has none and shows as 0.
        const auto number = [](std::uint32_t reference) { return (reference & kDirectPosition) != 0 ? 0u : reference; };
        const std::uint32_t start = walk.at(dataset, 0);
        const std::uint32_t end = walk.at(dataset, walk.count - 1);
        const std::uint32_t start_at = point_position(dataset, indexes, start);
        if (r != first && !same_place(dataset, prev_end_at, start_at)) {
            result.messages.push_back(
                message(AssemblyMessage::Kind::illegal_polygon, prev_start, prev_end, number(start), number(end)));
        }
        prev_start = number(start);
        prev_end = number(end);
        prev_end_at = point_position(dataset, indexes, end);
        const std::uint32_t last = walk.count == 1 ? 1 : walk.count - 1;
        for (std::uint32_t k = 0; k < last; ++k) {
            const std::uint32_t point_at = point_position(dataset, indexes, walk.at(dataset, k));
            if (point_at == kNoRecord) {
                result.messages.push_back(message(AssemblyMessage::Kind::point_not_found));
                return AssemblyStatus::point_not_found;
            }
            dataset.vertex_index_list.push_back(point_at);
        }
    }
    return AssemblyStatus::ok;
}

RingExtent extent_of(const MapDataset& dataset, std::size_t first, std::size_t count) {
    return ring_extent(
        count, [&](std::size_t k) -> const MapPoint& { return dataset.points[dataset.vertex_index_list[first + k]]; });
}

// Appends the outline of one surface: every ring, each hole after the outline ring it belongs to.
// A hole that does not count (ring_extent.hpp) is left out, so that every output agrees on the shape.
// A surface with a point that could not be read gets no outline at all (`unreadable` is set), so
// that no output puts a vertex where the file gives no place.
AssemblyStatus append_outline(MapDataset& dataset, const Indexes& indexes, const MapSurface& surface,
                              std::uint32_t parcel_position, BoundingBox& bounds, AssemblyResult& result,
                              bool& unreadable) {
    const bool several = surface.ring_count > 1;
    const std::size_t surface_begin = dataset.vertex_index_list.size();
    const std::size_t rings_begin = dataset.outline_rings.size();
    bool have_outline = false;
    RingExtent outline;
    const std::uint64_t first_ring = surface.first_ring;
    for (std::uint64_t k = first_ring; k < first_ring + surface.ring_count && k < dataset.rings.size(); ++k) {
        const RingRun& ring = dataset.rings[static_cast<std::size_t>(k)];
        const std::size_t begin = dataset.vertex_index_list.size();
        const AssemblyStatus status = append_ring(dataset, indexes, ring, parcel_position, result);
        if (status != AssemblyStatus::ok) return status;
        const std::size_t count = dataset.vertex_index_list.size() - begin;
        if (count == 0) continue;
        const bool hole = ring.interior && have_outline;
        if (several) {
            const RingExtent extent = extent_of(dataset, begin, count);
            if (hole && !hole_counts(outline, extent)) {
                dataset.vertex_index_list.resize(begin);
                continue;
            }
            if (!hole) outline = extent;
        }
        have_outline = have_outline || !hole;
        dataset.outline_rings.push_back(OutlineRing{static_cast<std::uint32_t>(count), hole});
    }
    const std::size_t end = dataset.vertex_index_list.size();
    unreadable = false;
    for (std::size_t i = surface_begin; dataset.unreadable_points != 0 && i < end && !unreadable; ++i) {
        const MapPoint& point = dataset.points[dataset.vertex_index_list[i]];
        unreadable = !std::isfinite(point.x) || !std::isfinite(point.y);
    }
    if (unreadable) {
        dataset.vertex_index_list.resize(surface_begin);
        dataset.outline_rings.resize(rings_begin);
        return AssemblyStatus::ok;
    }
    for (std::size_t i = surface_begin; i < end; ++i) widen(bounds, dataset.points[dataset.vertex_index_list[i]]);
    return AssemblyStatus::ok;
}

void note_unreadable(MapDataset& dataset, const Parcel& parcel) {
    ++dataset.unreadable_parcels;
    if (dataset.unreadable_lots.size() < MapDataset::kOutsideLotsKept) {
        dataset.unreadable_lots.emplace_back(field_view(parcel.chiban));
    }
}

// The vertex_index_list entries the selection's outlines would take, each surface once, as
// append_ring writes them; counting stops past kMaxOutlinePoints, so the sum cannot wrap.
std::uint64_t outline_entries(const MapDataset& dataset, const Indexes& indexes) {
    std::vector<bool> counted(dataset.surfaces.size(), false);
    std::uint64_t entries = 0;
    for (const Parcel& parcel : dataset.parcels) {
        if (!parcel.selected) continue;
        const std::uint32_t s = indexes.surfaces.find(parcel.shape_no);
        if (s == kNoRecord || counted[s]) continue;
        counted[s] = true;
        const MapSurface& surface = dataset.surfaces[s];
        const std::uint64_t first_ring = surface.first_ring;
        for (std::uint64_t k = first_ring; k < first_ring + surface.ring_count && k < dataset.rings.size(); ++k) {
            const RingRun& ring = dataset.rings[static_cast<std::size_t>(k)];
            const std::uint64_t first = ring.first_ref;
            for (std::uint64_t r = first; r < first + ring.count && r < dataset.ring_curves.size(); ++r) {
                const std::uint32_t curve_at = indexes.curves.find(dataset.ring_curves[static_cast<std::size_t>(r)]);
                const WalkedCurve walk = curve_at == kNoRecord ? WalkedCurve{} : walked_curve(dataset, curve_at);
                entries += walk.plain || walk.count <= 1 ? 1 : walk.count - 1;
            }
        }
        if (entries > kMaxOutlinePoints) break;
    }
    return entries;
}

AssemblyStatus assemble_selected(MapDataset& dataset, BoundingBox& bounds, AssemblyResult& result,
                                 BrokenShapes broken_shapes) {
    const bool skip = broken_shapes == BrokenShapes::skip;
    Indexes indexes;
    indexes.surfaces = build_id_index(dataset.surfaces);
    indexes.curves = build_id_index(dataset.curves);
    indexes.points = build_id_index(dataset.file_points());
    // Each surface is outlined once: one entry per ring reference, and more for curves of more points.
    const std::uint64_t entries = outline_entries(dataset, indexes);
    if (entries > kMaxOutlinePoints) {
        result.drawn_points = entries;
        return AssemblyStatus::too_many_points;
    }
    dataset.vertex_index_list.reserve(static_cast<std::size_t>(entries));
    dataset.outline_rings.reserve(dataset.rings.size());
    // For each surface, the parcel whose outline run it has, once built.
    std::vector<std::uint32_t> built_by(dataset.surfaces.size(), kNoRecord);
    std::vector<bool> unreadable_surface(dataset.unreadable_points != 0 ? dataset.surfaces.size() : 0, false);
    // Skipping, a surface that failed once is not walked again for the parcels that share it.
    std::vector<bool> broken_surface(skip ? dataset.surfaces.size() : 0, false);

    for (std::size_t j = 0; j < dataset.parcels.size(); ++j) {
        Parcel& parcel = dataset.parcels[j];
        if (!parcel.selected) continue;
        const std::uint32_t surface_at = indexes.surfaces.find(parcel.shape_no);
        if (surface_at == kNoRecord) {
            result.messages.push_back(message(AssemblyMessage::Kind::surface_not_found, parcel.shape_no, parcel.id_no));
            if (skip) continue;
            return AssemblyStatus::surface_not_found;
        }
        if (skip && broken_surface[surface_at]) continue;
        if (built_by[surface_at] != kNoRecord) {
            // A shared surface: its messages were given at its first parcel.
            const Parcel& first = dataset.parcels[built_by[surface_at]];
            parcel.first_vertex = first.first_vertex;
            parcel.vertex_count = first.vertex_count;
            parcel.first_ring = first.first_ring;
            parcel.ring_count = first.ring_count;
            if (!unreadable_surface.empty() && unreadable_surface[surface_at]) note_unreadable(dataset, parcel);
        } else {
            const auto first_vertex = static_cast<std::uint32_t>(dataset.vertex_index_list.size());
            const auto first_ring = static_cast<std::uint32_t>(dataset.outline_rings.size());
            bool unreadable = false;
            const AssemblyStatus status = append_outline(dataset, indexes, dataset.surfaces[surface_at],
                                                         static_cast<std::uint32_t>(j), bounds, result, unreadable);
            if (status != AssemblyStatus::ok && !skip) return status;
            if (status != AssemblyStatus::ok) {
                dataset.vertex_index_list.resize(first_vertex);
                dataset.outline_rings.resize(first_ring);
                broken_surface[surface_at] = true;
                continue;
            }
            if (unreadable) {
                unreadable_surface[surface_at] = true;
                note_unreadable(dataset, parcel);
            }
            parcel.first_vertex = first_vertex;
            parcel.vertex_count = static_cast<std::uint32_t>(dataset.vertex_index_list.size()) - first_vertex;
            parcel.first_ring = first_ring;
            parcel.ring_count = static_cast<std::uint32_t>(dataset.outline_rings.size()) - first_ring;
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

AssemblyResult assemble_outlines(MapDataset& dataset, std::string_view map_no, BoundingBox& bounds,
                                 BrokenShapes broken_shapes) {
    bounds.min_x = kLargestDouble;
    bounds.max_x = -kLargestDouble;
    bounds.min_y = kLargestDouble;
    bounds.max_y = -kLargestDouble;
    AssemblyResult result;
    // Parcels that assembly never reaches (unselected, or after a stopping error) keep no range.
    for (Parcel& parcel : dataset.parcels) parcel.has_outline = false;
    dataset.unreadable_parcels = 0;
    dataset.unreadable_lots.clear();
    dataset.vertex_index_list.clear();
    dataset.outline_rings.clear();
    if (dataset.parcels.empty()) return result;

    try {
        select_parcels(dataset, map_no);
        result.status = assemble_selected(dataset, bounds, result, broken_shapes);
    } catch (const std::bad_alloc&) {
        // The parcel being assembled has no range yet, so readers skip it and everything after it.
        result.status = AssemblyStatus::no_memory;
    }
    if (result.status == AssemblyStatus::ok) {
        result.entry_count = static_cast<std::uint32_t>(dataset.vertex_index_list.size());
    } else if (result.status != AssemblyStatus::too_many_points) {
        result.drawn_points = 0;
    }
    return result;
}

}  // namespace chizuvec
