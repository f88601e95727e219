// The page as plain data, built once from the map and the settings and then translated by a writer
// (the SVG or HTML document, the PDF through cairo), so that the outputs cannot drift apart. Every
// length is a fixed-point integer with `decimals` decimal places, in the page's drawing units.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace chizuvec {

struct DrawPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// A parcel: the fill of polygon class `style` ("p0", "p1", "p2", "p3", "ph"), its vertices the run of
// Drawing::vertices that ends at `end` (and begins where the previous polygon's ended). Its rings are
// Drawing::ring_ends up to `ring_end` (from the previous polygon's): the outline first, then its
// holes, each ring ending at the vertex its entry gives. The shape is filled by the even-odd rule.
struct DrawPolygon {
    std::uint8_t style = 0;
    std::uint32_t end = 0;
    std::uint32_t ring_end = 0;
};

enum class TextAnchor { start, middle, end };

// A line of text whose baseline passes through x, y. A lot-number label (label_class 1, 2, or 3 for
// the smallest size that --label-all adds) takes
// its font and size from the drawing's label style; every other text carries its own.
struct DrawText {
    std::int32_t x = 0;
    std::int32_t y = 0;
    int label_class = 0;
    TextAnchor anchor = TextAnchor::start;
    std::string font;  // family; sans-serif stands in when it is missing
    std::int32_t size = 0;
    std::string text;  // XML character data: well-formed, entities and character references kept
    int rotation = 0;  // degrees clockwise about x, y, in (-90, 90]
    // A label: 1 + the index of its parcel's polygon, for placing it; 0 when not known.
    std::uint32_t shape = 0;
};

// An open or closed run of straight segments, stroked; a closed one may be filled too.
struct DrawLine {
    std::vector<DrawPoint> points;
    bool closed = false;
    std::string stroke;  // colour
    std::int32_t width = 0;
    std::string fill;       // empty: not filled
    std::int32_t dash = 0;  // the length of each dash and of each gap between; 0: a solid line
};

using DrawMark = std::variant<DrawText, DrawLine>;

// A rectangle; one of width 0 is none.
struct DrawRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

inline constexpr int kPolygonStyleCount = 5;

struct Drawing {
    int decimals = 0;        // of every length below
    std::int32_t width = 0;  // the viewBox
    std::int32_t height = 0;
    std::int64_t page_width = 0;  // in page_unit
    std::int64_t page_height = 0;
    std::string page_unit = "pt";  // "pt" or "mm"
    std::string title;             // the HTML page's title: XML character data
    std::string background;        // empty: none
    std::string polygon_fills[kPolygonStyleCount];
    std::string polygon_stroke;
    std::int32_t polygon_stroke_width = 0;
    std::string label_font;
    std::int32_t label_sizes[3] = {};  // classes 1, 2 and 3
    std::vector<DrawPoint> vertices;
    std::vector<DrawPolygon> polygons;
    std::vector<std::uint32_t> ring_ends;  // each ring's end in `vertices`, the polygons' rings end to end
    DrawRect polygon_clip;                 // the polygons are cut off outside it
    std::vector<DrawMark> marks;           // drawn over the polygons, in order
};

// Calls visit(begin, end) with each ring of polygon `p` as a run of Drawing::vertices, in order.
template <typename Visit>
void for_each_ring(const Drawing& drawing, std::size_t p, Visit visit) {
    std::uint32_t ring = p == 0 ? 0 : drawing.polygons[p - 1].ring_end;
    std::uint32_t begin = p == 0 ? 0 : drawing.polygons[p - 1].end;
    for (; ring < drawing.polygons[p].ring_end; ++ring) {
        visit(begin, drawing.ring_ends[ring]);
        begin = drawing.ring_ends[ring];
    }
}

// Whether polygon `p` is more than one ring.
inline bool has_holes(const Drawing& drawing, std::size_t p) {
    const std::uint32_t first = p == 0 ? 0 : drawing.polygons[p - 1].ring_end;
    return drawing.polygons[p].ring_end - first > 1;
}

inline constexpr const char* kPolygonStyleNames[kPolygonStyleCount] = {"p0", "p1", "p2", "p3", "ph"};

}  // namespace chizuvec
