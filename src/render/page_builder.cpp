#include "render/page_builder.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/ascii.hpp"
#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "render/label_spread.hpp"
#include "render/parcel_style.hpp"
#include "render/segment_clip.hpp"
#include "render/svg_layout.hpp"
#include "render/svg_text.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

std::int32_t clamp_to_int32(std::int64_t value) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

std::uint8_t style_of(std::string_view polygon_class) {
    for (int i = 0; i < kPolygonStyleCount; ++i) {
        if (polygon_class == kPolygonStyleNames[i]) return static_cast<std::uint8_t>(i);
    }
    return 0;
}

void add_polygon_styles(Drawing& drawing, const RenderSettings& settings) {
    drawing.polygon_fills[0] = field_view(settings.svg_fill_color_common);
    drawing.polygon_fills[1] = field_view(settings.svg_fill_color_sp1);
    drawing.polygon_fills[2] = field_view(settings.svg_fill_color_sp2);
    drawing.polygon_fills[3] = field_view(settings.svg_fill_color_sp3);
    drawing.polygon_fills[4] = field_view(settings.svg_fill_color_hilite);
    drawing.polygon_stroke = field_view(settings.svg_boundary_line_color);
    drawing.polygon_stroke_width = static_cast<std::int32_t>(
        std::min<std::uint32_t>(settings.svg_boundary_line_width, std::numeric_limits<std::int32_t>::max()));
}

// Where a map position lands on the page: `origin` is the map position of the drawing's top left
// corner inside the margins (its min_y and max_x are read).
struct PagePlacement {
    BoundingBox origin;
    double scale = 1.0;
    std::uint32_t left = 0;
    std::uint32_t top = 0;

    DrawPoint place(const MapPoint& point) const {
        return {drawing_coordinate(point.y - origin.min_y, scale, left),
                drawing_coordinate(origin.max_x - point.x, scale, top)};
    }
};

// Each drawn parcel's outline, in parcel order. A point shared by neighbours is placed by the same
// arithmetic each time, so they share their boundary vertices exactly; the dataset is only read.
void add_polygons(Drawing& drawing, const MapDataset& dataset, const RenderSettings& settings,
                  const PagePlacement& placement, const std::vector<std::uint32_t>* selection,
                  std::vector<std::uint32_t>* shapes = nullptr) {
    const auto& points = dataset.points;
    for_each_drawn_parcel(dataset, selection, [&](const Parcel& parcel) {
        if (shapes != nullptr) shapes->push_back(0);
        const std::size_t begin = drawing.vertices.size();
        const std::span<const std::uint32_t> outline = parcel_outline(dataset, parcel);
        std::size_t at = 0;
        for (const OutlineRing& ring : parcel_rings(dataset, parcel)) {
            const std::size_t ring_begin = drawing.vertices.size();
            for (std::size_t k = 0; k < ring.count && at < outline.size(); ++k, ++at) {
                const std::uint32_t index = outline[at];
                if (index < points.size()) drawing.vertices.push_back(placement.place(points[index]));
            }
            if (drawing.vertices.size() != ring_begin) {
                drawing.ring_ends.push_back(static_cast<std::uint32_t>(drawing.vertices.size()));
            }
        }
        if (drawing.vertices.size() == begin) return;
        drawing.polygons.push_back({style_of(polygon_class(parcel, settings)),
                                    static_cast<std::uint32_t>(drawing.vertices.size()),
                                    static_cast<std::uint32_t>(drawing.ring_ends.size())});
        if (shapes != nullptr) shapes->back() = static_cast<std::uint32_t>(drawing.polygons.size());
    });
}

DrawPoint drawn_corner(const MapSheet& sheet, int corner, const BoundingBox& origin, double scale, std::uint32_t left,
                       std::uint32_t top) {
    return {drawing_coordinate(sheet.corner_y[corner] - origin.min_y, scale, left),
            drawing_coordinate(origin.max_x - sheet.corner_x[corner], scale, top)};
}

bool frame_drawn(const PrintOptions& print, const MapSheet* sheet) {
    return sheet != nullptr && sheet->has_frame && (print.frame || print.paper_width_mm != 0);
}

// The bounds of the sheet's frame.
BoundingBox frame_bounds(const MapSheet& sheet) {
    BoundingBox bounds{sheet.corner_x[0], sheet.corner_x[0], sheet.corner_y[0], sheet.corner_y[0]};
    for (int i = 1; i < 4; ++i) {
        bounds.min_x = std::min(bounds.min_x, sheet.corner_x[i]);
        bounds.max_x = std::max(bounds.max_x, sheet.corner_x[i]);
        bounds.min_y = std::min(bounds.min_y, sheet.corner_y[i]);
        bounds.max_y = std::max(bounds.max_y, sheet.corner_y[i]);
    }
    return bounds;
}

// The bounds widened by the sheet's frame, so that the page holds the whole frame.
BoundingBox with_frame(BoundingBox bounds, const MapSheet& sheet) {
    const BoundingBox frame = frame_bounds(sheet);
    bounds.min_x = std::min(bounds.min_x, frame.min_x);
    bounds.max_x = std::max(bounds.max_x, frame.max_x);
    bounds.min_y = std::min(bounds.min_y, frame.min_y);
    bounds.max_y = std::max(bounds.max_y, frame.max_y);
    return bounds;
}

void add_frame(Drawing& drawing, const MapSheet& sheet, const BoundingBox& origin, double scale, std::uint32_t left,
               std::uint32_t top, std::int32_t width) {
    DrawLine frame;
    // Lower left, upper left, upper right, lower right.
    for (const int corner : {0, 1, 3, 2}) frame.points.push_back(drawn_corner(sheet, corner, origin, scale, left, top));
    frame.closed = true;
    frame.stroke = "#000000";
    frame.width = width;
    drawing.marks.emplace_back(std::move(frame));
}

// ---- The printed page ---------------------------------------------------------------------------------
// Lengths in hundredths of a millimetre.

constexpr int kPaperDecimals = 2;
constexpr std::int32_t kMm = 100;
constexpr std::int32_t kPaperMargin = 7 * kMm;
constexpr std::int32_t kTitleSize = 5 * kMm;
constexpr std::uint32_t kLegiblePaperTitle = 150;  // 1.5 mm
constexpr std::int32_t kLegibleKey = 150;
constexpr std::int32_t kMapTop = kPaperMargin + 8 * kMm;  // below the title
constexpr std::int32_t kMapBottomBand = 12 * kMm;         // scale bar, scale and source lines
constexpr std::uint32_t kUsualScales[] = {250, 500, 600, 1000, 2500, 5000, 10000};

// Labels on paper: the class by the area printed, sizes in hundredths of a millimetre.
RenderSettings paper_settings(const RenderSettings& settings, std::uint32_t left, std::uint32_t top) {
    RenderSettings paper = settings;
    paper.svg_viewbox_marginx = left;
    paper.svg_viewbox_marginy = top;
    paper.svg_area_gt_c1 = 400.0 * kMm * kMm;  // 2 cm square
    paper.svg_area_gt_c2 = 40.0 * kMm * kMm;
    paper.svg_font_size_c1 = 300;
    paper.svg_font_size_c2 = 200;
    paper.svg_boundary_line_width = 10;
    paper.svg_font_size_title = kTitleSize;
    paper.svg_font_size_source = 250;
    return paper;
}

// The room for the map on a page `width` by `height`: inside the margins, below the title band and
// above the band of the scale bar and the source line.
DrawRect map_room(std::int32_t width, std::int32_t height) {
    return {kPaperMargin, kMapTop, width - 2 * kPaperMargin, height - kMapTop - kPaperMargin - kMapBottomBand};
}

// The page of a paper, across or upright as asked or as the extent is shaped.
DrawRect paper_page(std::uint32_t short_mm, std::uint32_t long_mm, PaperOrientation orientation,
                    const BoundingBox& extent) {
    const bool landscape =
        orientation == PaperOrientation::landscape ||
        (orientation == PaperOrientation::by_shape && extent.max_y - extent.min_y > extent.max_x - extent.min_x);
    const auto width = static_cast<std::int32_t>(landscape ? long_mm : short_mm) * kMm;
    const auto height = static_cast<std::int32_t>(landscape ? short_mm : long_mm) * kMm;
    return {0, 0, width, height};
}

// The scale 1:N at which the extent just fits the room (metres to hundredths of a mm); 0 for none.
double fitting_scale(const BoundingBox& extent, const DrawRect& room) {
    const double fitting = std::max((extent.max_y - extent.min_y) * 1000.0 * kMm / room.width,
                                    (extent.max_x - extent.min_x) * 1000.0 * kMm / room.height);
    return std::isfinite(fitting) ? fitting : 0.0;
}

std::uint32_t choose_scale(const PrintOptions& print, const MapSheet* sheet, double fitting, PageNotes& notes) {
    std::uint32_t scale = print.scale;
    if (scale == 0 && sheet != nullptr) scale = sheet->scale_denominator;
    if (scale == 0) {
        for (const std::uint32_t usual : kUsualScales) {
            if (usual >= fitting) return usual;
        }
        notes.beyond_usual = true;
        const double up = std::ceil(fitting);
        return up >= 4e9 ? 4000000000u : static_cast<std::uint32_t>(std::max(up, 1.0));
    }
    notes.overflows = scale < fitting;
    return scale;
}

// What would fit instead: a larger paper at the same scale, or the same paper at a smaller scale.
void note_what_fits(const PrintOptions& print, const BoundingBox& extent, double fitting, PageNotes& notes) {
    notes.fitting_scale = round_scale_at_least(fitting);
    for (const PaperSize& paper : kPaperSizes) {
        const DrawRect page = paper_page(paper.short_mm, paper.long_mm, print.orientation, extent);
        if (fitting_scale(extent, map_room(page.width, page.height)) <= notes.scale) {
            notes.fitting_paper = &paper;
            return;
        }
    }
}

// The part of the segment a-b inside `room` (Liang and Barsky); false when none is.
bool clip_segment(DrawPoint& a, DrawPoint& b, const DrawRect& room) {
    const double dx = static_cast<double>(b.x) - a.x;
    const double dy = static_cast<double>(b.y) - a.y;
    double enter = 0.0;
    double leave = 1.0;
    const double q[] = {static_cast<double>(a.x) - room.x, static_cast<double>(room.x) + room.width - a.x,
                        static_cast<double>(a.y) - room.y, static_cast<double>(room.y) + room.height - a.y};
    if (!clip_span(dx, dy, q, enter, leave)) return false;
    const DrawPoint from = a;
    a = {static_cast<std::int32_t>(std::lround(from.x + enter * dx)),
         static_cast<std::int32_t>(std::lround(from.y + enter * dy))};
    b = {static_cast<std::int32_t>(std::lround(from.x + leave * dx)),
         static_cast<std::int32_t>(std::lround(from.y + leave * dy))};
    return true;
}

bool inside(const DrawPoint& point, const DrawRect& room) {
    return point.x >= room.x && point.x <= room.x + room.width && point.y >= room.y && point.y <= room.y + room.height;
}

// A frame larger than the room is cut at the room's edge, as the parcels are, so that it never runs
// through the title or the scale bar.
void clip_frame_to_room(Drawing& drawing, std::size_t at, const DrawRect& room) {
    const DrawLine frame = std::get<DrawLine>(drawing.marks[at]);
    if (std::all_of(frame.points.begin(), frame.points.end(), [&](const DrawPoint& p) { return inside(p, room); })) {
        return;
    }
    drawing.marks.erase(drawing.marks.begin() + static_cast<std::ptrdiff_t>(at));
    for (std::size_t i = 0; i < frame.points.size(); ++i) {
        DrawPoint a = frame.points[i];
        DrawPoint b = frame.points[(i + 1) % frame.points.size()];
        if (!clip_segment(a, b, room)) continue;
        DrawLine side = frame;
        side.points = {a, b};
        side.closed = false;
        drawing.marks.emplace_back(std::move(side));
    }
}

// A thin line along the room's edge where parcels run beyond it, so that the cut shows as one.
void add_cut_line(Drawing& drawing, const DrawRect& room) {
    if (std::all_of(drawing.vertices.begin(), drawing.vertices.end(),
                    [&](const DrawPoint& p) { return inside(p, room); })) {
        return;
    }
    DrawLine edge;
    edge.points = {{room.x, room.y},
                   {room.x + room.width, room.y},
                   {room.x + room.width, room.y + room.height},
                   {room.x, room.y + room.height}};
    edge.closed = true;
    edge.stroke = "#808080";
    edge.width = 10;
    drawing.marks.emplace_back(std::move(edge));
}

// The extent `bounds` on the page.
DrawRect extent_rect(const BoundingBox& bounds, const BoundingBox& origin, double scale, std::uint32_t left,
                     std::uint32_t top) {
    const std::int32_t x = drawing_coordinate(bounds.min_y - origin.min_y, scale, left);
    const std::int32_t y = drawing_coordinate(origin.max_x - bounds.max_x, scale, top);
    return {x, y, clamp_to_int32(std::int64_t{drawing_coordinate(bounds.max_y - origin.min_y, scale, left)} - x),
            clamp_to_int32(std::int64_t{drawing_coordinate(origin.max_x - bounds.min_x, scale, top)} - y)};
}

// The part of `rect` inside `room`; one of width 0 when none is.
DrawRect within(const DrawRect& rect, const DrawRect& room) {
    const std::int64_t x0 = std::max(rect.x, room.x);
    const std::int64_t y0 = std::max(rect.y, room.y);
    const std::int64_t x1 = std::min(std::int64_t{rect.x} + rect.width, std::int64_t{room.x} + room.width);
    const std::int64_t y1 = std::min(std::int64_t{rect.y} + rect.height, std::int64_t{room.y} + room.height);
    if (x1 <= x0 || y1 <= y0) return {static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0), 0, 0};
    return {static_cast<std::int32_t>(x0), static_cast<std::int32_t>(y0), static_cast<std::int32_t>(x1 - x0),
            static_cast<std::int32_t>(y1 - y0)};
}

// Labels from `first` on whose point lies outside `clip` go with their parcels' cut-off parts.
void drop_labels_outside(Drawing& drawing, std::size_t first, const DrawRect& clip) {
    const auto outside = [&](const DrawMark& mark) {
        const auto* label = std::get_if<DrawText>(&mark);
        return label != nullptr && !inside({label->x, label->y}, clip);
    };
    drawing.marks.erase(
        std::remove_if(drawing.marks.begin() + static_cast<std::ptrdiff_t>(first), drawing.marks.end(), outside),
        drawing.marks.end());
}

void add_north_arrow(Drawing& drawing, std::int32_t right, std::int32_t top, std::string_view font) {
    const std::int32_t cx = right - 6 * kMm;
    add_text(drawing, cx, top + 5 * kMm, TextAnchor::middle, font, 4 * kMm, "N");
    DrawLine arrow;
    arrow.points = {
        {cx, top + 6 * kMm}, {cx + 2 * kMm, top + 15 * kMm}, {cx, top + 13 * kMm}, {cx - 2 * kMm, top + 15 * kMm}};
    arrow.closed = true;
    arrow.stroke = "#000000";
    arrow.width = 15;
    arrow.fill = "#000000";
    drawing.marks.emplace_back(std::move(arrow));
}

// The scale as text at the bottom left, under a bar of a round length.
void add_printed_scale(Drawing& drawing, std::uint32_t scale, double units_per_metre, std::int32_t bottom,
                       std::int32_t room, std::string_view font) {
    add_text(drawing, kPaperMargin, bottom, TextAnchor::start, font, 350, format_text("縮尺 1/%u", scale));
    ScaleBar bar;
    bar.metres = round_length_within(std::min(50.0 * kMm, room / 3.0) / units_per_metre);
    const std::int32_t length = drawing_coordinate(bar.metres, units_per_metre, 0);
    const std::int32_t base = bottom - 7 * kMm;
    DrawLine bracket;
    bracket.points = {{kPaperMargin, base - 2 * kMm},
                      {kPaperMargin, base},
                      {kPaperMargin + length, base},
                      {kPaperMargin + length, base - 2 * kMm}};
    bracket.stroke = "#000000";
    bracket.width = 30;
    drawing.marks.emplace_back(std::move(bracket));
    add_text(drawing, kPaperMargin + length + 2 * kMm, base, TextAnchor::start, "Arial", 300, scale_bar_label(bar));
}

Drawing build_printed_page(std::string_view input_path, std::string_view map_no, const MapHeader& header,
                           const BoundingBox& bounds, const RenderSettings& settings, const MapDataset& dataset,
                           const PrintOptions& print, const MapSheet* sheet, PageNotes& notes,
                           const std::vector<std::uint32_t>* selection, const DrawingFocus* focus) {
    const bool frame = frame_drawn(print, sheet);
    // A sheet is printed as a sheet: its frame decides the paper's orientation, the scale that
    // fits and the centre; neighbours beyond the frame are cut at the room's edge.
    const BoundingBox extent = frame ? frame_bounds(*sheet) : bounds;
    const DrawRect page = paper_page(print.paper_width_mm, print.paper_height_mm, print.orientation, extent);
    const std::int32_t width = page.width;
    const std::int32_t height = page.height;
    const DrawRect room = map_room(width, height);
    const std::int32_t map_width = room.width;
    const std::int32_t map_height = room.height;

    const double fitting = fitting_scale(extent, room);
    notes.scale = choose_scale(print, sheet, fitting, notes);
    if (notes.overflows) note_what_fits(print, extent, fitting, notes);
    const double scale = 1000.0 * kMm / notes.scale;  // drawing units per metre

    // The extent's centre at the centre of the room for the map.
    BoundingBox origin;
    origin.min_y = (extent.min_y + extent.max_y) / 2 - map_width / 2.0 / scale;
    origin.max_x = (extent.min_x + extent.max_x) / 2 + map_height / 2.0 / scale;
    const auto left = static_cast<std::uint32_t>(kPaperMargin);
    const auto top = static_cast<std::uint32_t>(kMapTop);
    const RenderSettings paper = paper_settings(settings, left, top);

    Drawing drawing;
    drawing.decimals = kPaperDecimals;
    drawing.width = width;
    drawing.height = height;
    drawing.page_width = width / kMm;
    drawing.page_height = height / kMm;
    drawing.page_unit = "mm";
    append_map_field(drawing.title, header.map_name);
    drawing.background = "#FFFFFF";
    add_polygon_styles(drawing, paper);
    std::vector<std::uint32_t> shapes;
    add_polygons(drawing, dataset, paper, {origin, scale, left, top}, selection, print.label_all ? &shapes : nullptr);
    add_label_styles(drawing, paper);
    if (frame) {
        add_frame(drawing, *sheet, origin, scale, left, top, 35);
        clip_frame_to_room(drawing, drawing.marks.size() - 1, room);
    }
    // Part of a map is cut at its own extent, which lies inside the room.
    const DrawRect clip =
        focus != nullptr && focus->clip ? within(extent_rect(bounds, origin, scale, left, top), room) : room;
    add_cut_line(drawing, clip);
    SvgLayout layout;
    layout.scale = scale;
    layout.viewbox_width = width;
    layout.viewbox_height = height;
    drawing.polygon_clip = clip;
    const std::size_t first_label = drawing.marks.size();
    add_labels(drawing, dataset, origin, layout, paper, selection, print.label_all, &shapes);
    drop_labels_outside(drawing, first_label, clip);
    const bool arbitrary = field_view(header.coord_system) == kArbitraryCoordSystem;
    const bool orientation_known = sheet == nullptr || !sheet->orientation_unknown;
    const bool north_arrow = orientation_known && (!arbitrary || frame);
    if (print.label_all) {
        PaperKey key;
        key.room = room;
        key.extent = extent_rect(extent, origin, scale, left, top);
        if (north_arrow) key.keep_clear = {width - kPaperMargin - 9 * kMm, kMapTop, 9 * kMm, 16 * kMm};
        key.size = std::max<std::int32_t>(drawing.label_sizes[2], kLegibleKey);
        const LeftOut left_out = spread_labels(drawing, first_label, clip, &key);
        notes.left_out_of_key = left_out.count;
        notes.first_left_out = left_out.first;
    }

    const std::string_view font = field_view(settings.svg_font_title);
    add_text(
        drawing, kPaperMargin, kPaperMargin + kTitleSize, TextAnchor::start, font,
        clamp_to_int32(fitted_title_size(title_text(input_path, map_no, header), width, paper, kLegiblePaperTitle)),
        title_markup(input_path, map_no, header));
    if (north_arrow) add_north_arrow(drawing, width - kPaperMargin, kMapTop, font);
    // The baseline of the lowest lines, their descenders kept inside the margin.
    const std::int32_t bottom = height - kPaperMargin - kMm;
    add_printed_scale(drawing, notes.scale, scale, bottom, map_width, font);
    std::string escaped_source;
    append_xml_escaped(escaped_source, field_view(settings.svg_text_source));
    add_text(drawing, width - kPaperMargin, bottom, TextAnchor::end, field_view(settings.svg_font_source),
             clamp_to_int32(paper.svg_font_size_source), escaped_source);
    return drawing;
}

}  // namespace

std::uint32_t round_scale_at_least(double fitting) {
    constexpr double kSteps[] = {1, 1.5, 2, 2.5, 3, 4, 5, 6, 8};
    for (double power = 1; power < 4e9; power *= 10) {
        for (const double step : kSteps) {
            if (step * power >= fitting) return static_cast<std::uint32_t>(step * power);
        }
    }
    return 4000000000u;
}

Drawing build_drawing(std::string_view input_path, std::string_view map_no, const MapHeader& header,
                      const BoundingBox& assembled, const RenderSettings& settings, const MapDataset& dataset,
                      std::int32_t source_width, const PrintOptions& print, const MapSheet* sheet, PageNotes* notes,
                      const std::vector<std::uint32_t>* selection, const DrawingFocus* focus) {
    // The title names the part of the map drawn, where it would name the sheet.
    if (focus != nullptr && !focus->subject.empty()) map_no = focus->subject;
    if (print.paper_width_mm != 0) {
        PageNotes own;
        return build_printed_page(input_path, map_no, header, assembled, settings, dataset, print, sheet,
                                  notes != nullptr ? *notes : own, selection, focus);
    }
    const bool frame = frame_drawn(print, sheet);
    const BoundingBox bounds = frame ? with_frame(assembled, *sheet) : assembled;
    const SvgLayout layout = compute_layout(bounds, settings);
    Drawing drawing;
    drawing.width = layout.viewbox_width;
    drawing.height = layout.viewbox_height;
    drawing.page_width = layout.page_width;
    drawing.page_height = layout.page_height;
    append_map_field(drawing.title, header.map_name);
    const std::string_view background = field_view(settings.svg_fill_color_viewbox);
    if (!equals_ignoring_ascii_case(background, "none")) drawing.background = background;

    add_polygon_styles(drawing, settings);
    std::vector<std::uint32_t> shapes;
    add_polygons(drawing, dataset, settings,
                 {bounds, layout.scale, settings.svg_viewbox_marginx, settings.svg_viewbox_marginy}, selection,
                 print.label_all ? &shapes : nullptr);
    add_label_styles(drawing, settings);
    if (frame) {
        add_frame(drawing, *sheet, bounds, layout.scale, settings.svg_viewbox_marginx, settings.svg_viewbox_marginy,
                  clamp_to_int32(2 * std::int64_t{settings.svg_boundary_line_width}));
    }
    const std::size_t first_label = drawing.marks.size();
    add_labels(drawing, dataset, bounds, layout, settings, selection, print.label_all, &shapes);
    if (focus != nullptr && focus->clip) {
        drawing.polygon_clip = {clamp_to_int32(settings.svg_viewbox_marginx),
                                clamp_to_int32(settings.svg_viewbox_marginy),
                                drawing_coordinate(bounds.max_y - bounds.min_y, layout.scale, 0),
                                drawing_coordinate(bounds.max_x - bounds.min_x, layout.scale, 0)};
        drop_labels_outside(drawing, first_label, drawing.polygon_clip);
    }
    if (print.label_all) {
        // Between the margins, clear of the title above and the scale bar below.
        const std::int32_t my = clamp_to_int32(settings.svg_viewbox_marginy);
        spread_labels(drawing, first_label,
                      {0, my, layout.viewbox_width, clamp_to_int32(std::int64_t{layout.viewbox_height} - 2 * my)});
    }
    add_title(drawing, input_path, map_no, header, settings,
              fitted_title_size(title_text(input_path, map_no, header), layout.viewbox_width, settings));
    std::string escaped_source;
    append_xml_escaped(escaped_source, field_view(settings.svg_text_source));
    add_source_line(drawing, escaped_source, layout, settings);
    add_scale_bar(drawing, compute_scale_bar(layout, settings, source_width), layout, settings);
    return drawing;
}

}  // namespace chizuvec
