// What the CAD and survey writers (DXF, SIMA) read: the parcels of one map file's selection in the
// map's own plane coordinates, with the highlights and sheets the drawing has. Read only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "render/svg_writer.hpp"

namespace chizuvec {

struct CadSource {
    const MapDataset* dataset = nullptr;
    const MapHeader* header = nullptr;
    std::string_view input_path;
    std::string_view map_no;                                // the selected map number; empty for every parcel
    const std::vector<std::uint32_t>* selection = nullptr;  // as build_drawing
    const MapSheet* sheet = nullptr;                        // the one sheet drawn, if any
    const RenderSettings* settings = nullptr;               // the source line
    std::uint32_t paper_scale = 0;  // --scale N: millimetres on paper at 1:N; 0 for metres of the plane
};

// The parcels written, in parcel order: outlined and selected.
template <typename Visit>
void for_each_cad_parcel(const CadSource& source, Visit visit) {
    for_each_drawn_parcel(*source.dataset, source.selection, [&](const Parcel& parcel) {
        if (!parcel.has_outline || (source.selection == nullptr && !parcel.selected)) return;
        if (parcel_outline(*source.dataset, parcel).empty()) return;
        visit(parcel);
    });
}

// Every ring of a parcel, outline first, then its holes: `visit(points, hole)` with the positions
// in dataset.points, each vertex once (the first not repeated).
template <typename Visit>
void for_each_parcel_ring(const CadSource& source, const Parcel& parcel, Visit visit) {
    const std::span<const std::uint32_t> outline = parcel_outline(*source.dataset, parcel);
    std::size_t at = 0;
    for (const OutlineRing& ring : parcel_rings(*source.dataset, parcel)) {
        const std::size_t count = std::min<std::size_t>(ring.count, outline.size() - at);
        if (count != 0) visit(outline.subspan(at, count), ring.hole);
        at += count;
    }
}

// The named points of a map file by where they are in dataset.points, resolved once: the writers
// look a point up by its position, never by searching.
struct SurveyPoints {
    std::vector<std::uint32_t> name_of;     // per position: its 筆界点 in boundary_points (the first), or kNoRecord
    std::vector<std::uint32_t> control_at;  // per 基準点 of control_points: its position, or kNoRecord
    std::string_view name(const MapDataset& dataset, std::uint32_t position) const;  // empty: none
};
SurveyPoints survey_points_of(const MapDataset& dataset);

// Lots outside the district and those drawn on a separate sheet: their 地番 holds 地区外 or 別図.
bool is_outside_lot(std::string_view chiban);

// UTF-8 text in Shift_JIS (CP932); a character outside it as `\U+XXXX`, and so are control
// characters and the bytes `\ % ^` that CAD programs read as codes, so no map text acts as one.
std::string cad_text(std::string_view utf8);
// UTF-8 text in Shift_JIS (CP932) with each character outside it, each control character and each
// comma (the field separator of SIMA) as "?".
std::string survey_text(std::string_view utf8);

// A coordinate in the shortest fixed-point decimal form that reads back as the same double, so the
// map file's decimals are kept as written (a coordinate that is no number, as 0).
void append_coordinate(std::string& out, double value);

PageStatus write_dxf(std::FILE* file, const CadSource& source);
PageStatus write_sima(std::FILE* file, const CadSource& source);

}  // namespace chizuvec
