// --label-all: every lot's label set where it overprints no other. Reads the label marks that
// add_labels wrote and moves them along a leader line, or numbers them in a key beside the map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "render/drawing.hpp"

namespace chizuvec {

// Advance widths of the label font, each character measured once; characters beyond the first
// few dozen distinct ones count as one em, so no map text chooses how much font work is done.
class LabelWidths {
  public:
    explicit LabelWidths(std::string_view font) : font_(font) {}
    // Width in drawing units of `text` (XML character data) at `size`.
    double width(std::string_view text, std::int32_t size);

  private:
    static constexpr std::size_t kMeasured = 48;
    std::string font_;
    std::string characters_[kMeasured];
    double ems_[kMeasured] = {};
    std::size_t count_ = 0;
};

// The label box of a text whose baseline is centred at x, y: an em high, from 0.88 em above.
struct LabelBox {
    double left = 0, top = 0, right = 0, bottom = 0;
};
LabelBox label_box(double x, double y, double width, std::int32_t size);

// On paper, which cannot widen: the key's rows go in `size` into the bands of `room` outside
// `extent` (the map's frame or extent on the page), clear of `keep_clear` (a mark drawn later).
struct PaperKey {
    DrawRect room;
    DrawRect extent;
    DrawRect keep_clear;
    std::int32_t size = 0;
};

// The lots that found room neither on the map nor in the key: how many, the first few as plain text.
struct LeftOut {
    std::size_t count = 0;
    std::vector<std::string> first;
};

// Moves the labels among drawing.marks[first_label...] (label_class non-zero) so that no two
// boxes meet: each keeps its place when free (turned along its parcel when it does not fit across
// it but turned does), else takes the nearest free place around it with a leader line back, else
// gets a number at its place and a row in a key: at the right edge of the drawing, which widens,
// or with `paper` in the room beside the map. `room` is where labels may stand.
LeftOut spread_labels(Drawing& drawing, std::size_t first_label, const DrawRect& room, const PaperKey* paper = nullptr);

}  // namespace chizuvec
