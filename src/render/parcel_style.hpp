// The kinds of parcel the drawing tells apart: the special lot-number prefixes, the polygon class
// each parcel is filled by, and the label class (or none) its lot number is written in.
#pragma once

#include <string_view>

#include "config/render_settings.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// 1, 2 or 3 for the first of svg_chiban_sp1..3 that begins `chiban` (an empty prefix matches every
// lot number), else 0.
int special_kind(std::string_view chiban, const RenderSettings& settings);
// "ph", "p1", "p2", "p3" or "p0".
std::string_view polygon_class(const Parcel& parcel, const RenderSettings& settings);
// 1 or 2 for the label classes "c1" and "c2", 0 for no label.
int label_class(const Parcel& parcel, double scale, const RenderSettings& settings);

}  // namespace chizuvec
