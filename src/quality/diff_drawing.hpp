// The drawing of a release diff: the new release's parcels, the changed ones filled by the kind of
// change, the removed ones outlined in red dashes in their old outline, a title and a legend; built as the
// drawing model, so that the SVG, HTML and PDF writers all write it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "quality/release_diff.hpp"
#include "render/drawing.hpp"

namespace chizuvec {

class DiffDrawing {
  public:
    // `change` is null for a parcel that did not change.
    void add(const ReleaseParcel& parcel, const ChangeKind* change);
    // The page, titled with `title` (plain text, escaped here).
    Drawing drawing(std::string_view title) const;

  private:
    struct Shape {
        std::uint8_t style = 0;  // 0 unchanged, else 1 + ChangeKind
        std::uint32_t end = 0;   // of its exterior's points in points_, which end where the shape's before begin
    };
    std::vector<Shape> shapes_;
    std::vector<PlanePoint> points_;
};

}  // namespace chizuvec
