// Turns the shape of every selected parcel into its outline: a run of point positions in the
// dataset's vertex_index_list. Selection is by map number: a parcel is in map number M when any
// sheet numbered M lists it; an empty map number selects every parcel. Each surface's outline is
// built once, at its first selected parcel, and the parcels that share the surface share its run.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "model/map_dataset.hpp"

namespace chizuvec {

struct BoundingBox {
    double min_x = 0.0;
    double max_x = 0.0;
    double min_y = 0.0;
    double max_y = 0.0;
};

enum class AssemblyStatus {
    ok,
    surface_not_found,  // a selected parcel's shape names no surface: assembly stopped
    curve_not_found,    // a ring names no curve: assembly stopped
    point_not_found,    // a curve's start names no point: assembly stopped
    no_memory,          // assembly stopped; its messages so far are kept
    too_many_points,    // the outlines would hold more than kMaxOutlinePoints: nothing assembled
};

// The most outline points assembly writes: a ring may name one long curve many times, so the
// outlines are counted before any is built, and a file that would pass this is refused.
inline constexpr std::uint64_t kMaxOutlinePoints = 100'000'000;

// One message of assembly, in the order met. The numbers are those the message shows.
struct AssemblyMessage {
    enum class Kind {
        illegal_polygon,    // the previous curve's start and end, this curve's start and end
        surface_not_found,  // the parcel's shape number and its id number
        curve_not_found,    // the parcel's position among all parcels
        point_not_found,    // no numbers
    };
    Kind kind = Kind::illegal_polygon;
    std::uint32_t numbers[4] = {};
};

struct AssemblyResult {
    AssemblyStatus status = AssemblyStatus::ok;
    // vertex_index_list entries written; 0 when nothing was selected or assembly stopped.
    std::uint32_t entry_count = 0;
    // Outline points a drawing of the selection holds, each parcel counting its shared outline;
    // for too_many_points, the outline points counted (each surface once).
    std::uint64_t drawn_points = 0;
    std::vector<AssemblyMessage> messages;
};

// Sets `selected` on every parcel: all of them for an empty map number, else those that any sheet
// numbered `map_no` lists (or whose map_no is it).
void select_parcels(MapDataset& dataset, std::string_view map_no);

// What a parcel whose shape cannot be built does to the rest: the drawing and the listing stop there;
// outputs of one row per parcel skip it (it has no outline) and go on.
enum class BrokenShapes { stop, skip };

// Selects the parcels of `map_no`, builds their outlines and fills `bounds`.
AssemblyResult assemble_outlines(MapDataset& dataset, std::string_view map_no, BoundingBox& bounds,
                                 BrokenShapes broken_shapes = BrokenShapes::stop);

// The outline of a parcel as positions in `points`; empty for a parcel without one.
inline std::span<const std::uint32_t> parcel_outline(const MapDataset& dataset, const Parcel& parcel) {
    if (!parcel.has_outline) return {};
    const std::size_t first = parcel.first_vertex;
    const std::size_t size = dataset.vertex_index_list.size();
    if (first >= size) return {};
    const std::size_t count = parcel.vertex_count < size - first ? parcel.vertex_count : size - first;
    return std::span<const std::uint32_t>(dataset.vertex_index_list.data() + first, count);
}

// The rings of a parcel's outline, each a run of parcel_outline in order: the outline ring first,
// then its holes (and further outline rings with theirs, where a surface has several).
inline std::span<const OutlineRing> parcel_rings(const MapDataset& dataset, const Parcel& parcel) {
    if (!parcel.has_outline) return {};
    const std::size_t first = parcel.first_ring;
    const std::size_t size = dataset.outline_rings.size();
    if (first >= size) return {};
    const std::size_t count = parcel.ring_count < size - first ? parcel.ring_count : size - first;
    return std::span<const OutlineRing>(dataset.outline_rings.data() + first, count);
}

// The parcels of a drawing: every parcel in array order, or only those at the positions
// `selection` lists (ascending), so a drawing of a few parcels of a large file takes time by its
// own parcels.
template <typename Visit>
void for_each_drawn_parcel(const MapDataset& dataset, const std::vector<std::uint32_t>* selection, Visit visit) {
    if (selection == nullptr) {
        for (const Parcel& parcel : dataset.parcels) visit(parcel);
        return;
    }
    for (const std::uint32_t at : *selection) {
        if (at < dataset.parcels.size()) visit(dataset.parcels[at]);
    }
}

}  // namespace chizuvec
