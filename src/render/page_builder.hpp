// Builds the page of a drawing as plain data (drawing.hpp): the drawing coordinates of the points,
// the parcel polygons, the labels, the title, the source line, the scale bar and, on a printed page,
// the frame and the north arrow. The dataset is only read: the page holds its own coordinates.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"
#include "render/drawing.hpp"

namespace chizuvec {

enum class PaperOrientation { by_shape, landscape, portrait };

struct PaperSize {
    std::string_view name;
    std::uint32_t short_mm;
    std::uint32_t long_mm;
};
// Smallest first.
inline constexpr PaperSize kPaperSizes[] = {
    {"A4", 210, 297}, {"A3", 297, 420}, {"A2", 420, 594}, {"A1", 594, 841}, {"A0", 841, 1189},
};

// A drawing printed at a true scale (--paper, --scale, --frame).
struct PrintOptions {
    std::uint32_t paper_width_mm = 0;  // 0: the default drawing, sized by the settings
    std::uint32_t paper_height_mm = 0;
    PaperOrientation orientation = PaperOrientation::by_shape;
    std::uint32_t scale = 0;  // 1:scale; 0: the sheet's own, or the smallest usual scale that fits
    bool frame = false;       // the sheet frame also on the default drawing
    bool label_all = false;   // --label-all: every lot labelled, no label over another
};

// How a printed page came out.
struct PageNotes {
    std::uint32_t scale = 0;    // the scale printed at, 1:scale; 0 for the default drawing
    bool beyond_usual = false;  // no usual scale fitted the paper: `scale` is the one that fits
    bool overflows = false;     // the scale asked for (or the sheet's own) does not fit the paper
    // overflows: the smallest paper on which it fits at `scale` (null when not even A0 does), and
    // the round scale at which it fits the paper asked for.
    const PaperSize* fitting_paper = nullptr;
    std::uint32_t fitting_scale = 0;
    // --label-all on paper: the lots for which the key found no room, and the first of them.
    std::size_t left_out_of_key = 0;
    std::vector<std::string> first_left_out;
};

// A drawing of part of a map: the title's words for that part, and the parcels cut at the edge of
// the extent drawn (the bounds given), their labels with them.
struct DrawingFocus {
    std::string subject;  // in the title where the map number goes: a map text; empty for the number
    bool clip = false;
};

// The smallest round scale 1:N (1, 1.5, 2, 2.5, 3, 4, 5, 6 or 8 times a power of ten) that is at
// least `fitting`, at most 4,000,000,000.
std::uint32_t round_scale_at_least(double fitting);

// The page of the drawing: sized by the settings, or the paper of `print` at a true scale.
// `source_width` is measure_source_text; `sheet` the one sheet drawn, if any. With a `selection`
// (parcel positions, ascending, all outlined), only those parcels are drawn and only their points
// get drawing coordinates: one sheet of a file outlined whole. With a `focus`, part of a map.
Drawing build_drawing(std::string_view input_path, std::string_view map_no, const MapHeader& header,
                      const BoundingBox& bounds, const RenderSettings& settings, const MapDataset& dataset,
                      std::int32_t source_width, const PrintOptions& print = {}, const MapSheet* sheet = nullptr,
                      PageNotes* notes = nullptr, const std::vector<std::uint32_t>* selection = nullptr,
                      const DrawingFocus* focus = nullptr);

}  // namespace chizuvec
