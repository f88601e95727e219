// The drawing of a release diff: the new release's parcels, the changed ones filled by the kind of
// change, the removed ones dashed in their old outline, and a legend. Plain SVG, in metres.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quality/release_diff.hpp"

namespace chizuvec {

class DiffDrawing {
  public:
    // `change` is null for a parcel that did not change.
    void add(const ReleaseParcel& parcel, const ChangeKind* change);
    // The SVG document, titled with `title` (plain text, escaped here).
    std::string svg(std::string_view title) const;

  private:
    struct Shape {
        std::uint8_t style = 0;  // 0 unchanged, else 1 + ChangeKind
        std::uint32_t first_point = 0;
        std::uint32_t first_ring = 0;
    };
    std::vector<Shape> shapes_;
    std::vector<PlanePoint> points_;
    std::vector<std::uint32_t> ring_ends_;  // into points_, end to end
};

}  // namespace chizuvec
