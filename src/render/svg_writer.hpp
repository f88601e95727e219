// Writes the drawing: a bare SVG document, or an XHTML page carrying the same SVG inline. Owns the
// output file, the page layout, the mapping of map coordinates to drawing coordinates, the document
// skeleton and the parcel polygons; svg_text.hpp supplies the elements that carry text.
#pragma once

#include <string>
#include <string_view>

#include "config/render_settings.hpp"
#include "geometry/polygon_assembly.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

inline constexpr int kWriteOk = 0;
inline constexpr int kWriteUnsupportedType = -1;  // extension neither .svg nor .htm*; nothing touched
inline constexpr int kWriteFailed = -2;           // cannot open, write or close; no file left behind

// The key of the first layout setting that makes a drawing impossible (svg_dpi 0, length 0, a fixed
// side not longer than twice its margin), or the empty view when the settings can draw.
std::string_view find_invalid_layout_setting(const RenderSettings& settings);

// Writes the drawing of the parcels selected by `map_no`. Writes svg_x and svg_y of every point.
int write_svg(const std::string& output_path, const std::string& input_path, std::string_view map_no,
              const MapHeader& header, const BoundingBox& bounds, const RenderSettings& settings,
              MapDataset& dataset);

}  // namespace chizuvec
