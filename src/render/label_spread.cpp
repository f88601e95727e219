#include "render/label_spread.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "common/text_format.hpp"
#include "platform/platform.hpp"
#include "render/segment_clip.hpp"
#include "render/xml_text.hpp"

namespace chizuvec {
namespace {

constexpr double kAscent = 0.88;  // of an em, above the baseline
constexpr std::uint32_t kMeasureSize = 100;
constexpr int kRings = 4;

// One character of XML character data: a UTF-8 sequence, or an entity or character reference.
std::size_t character_length(std::string_view text, std::size_t at) {
    if (text[at] == '&') {
        const std::size_t end = text.find(';', at);
        if (end != std::string_view::npos && end - at <= 10) return end - at + 1;
        return 1;
    }
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return std::min(length, text.size() - at);
}

bool meets(const LabelBox& a, const LabelBox& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Label boxes in square cells, so that a new box is tested only against its neighbours.
class BoxGrid {
  public:
    BoxGrid(const DrawRect& room, double cell, std::size_t expected) : room_(room) {
        const double area = std::max(1.0, static_cast<double>(room.width)) * std::max(1.0, double(room.height));
        // Never more cells than a few per label, whatever the room's size.
        cell_ = std::max({cell, 1.0, std::sqrt(area / (4.0 * static_cast<double>(expected) + 16.0))});
        columns_ = static_cast<std::size_t>(std::max(1.0, std::ceil(std::max(1, room.width) / cell_)));
        rows_ = static_cast<std::size_t>(std::max(1.0, std::ceil(std::max(1, room.height) / cell_)));
        cells_.resize(columns_ * rows_);
    }

    bool free(const LabelBox& box) const {
        bool clear = true;
        visit(box, [&](const std::vector<std::uint32_t>& cell) {
            for (const std::uint32_t i : cell) clear = clear && !meets(box, boxes_[i]);
        });
        return clear;
    }

    void add(const LabelBox& box) {
        const auto index = static_cast<std::uint32_t>(boxes_.size());
        boxes_.push_back(box);
        visit(box, [&](std::vector<std::uint32_t>& cell) { cell.push_back(index); });
    }

  private:
    std::size_t column_of(double x) const {
        const double c = std::floor((x - room_.x) / cell_);
        return static_cast<std::size_t>(std::clamp(c, 0.0, static_cast<double>(columns_ - 1)));
    }
    std::size_t row_of(double y) const {
        const double r = std::floor((y - room_.y) / cell_);
        return static_cast<std::size_t>(std::clamp(r, 0.0, static_cast<double>(rows_ - 1)));
    }
    template <typename Cells, typename Visit>
    static void visit_cells(Cells& self, const LabelBox& box, Visit visit) {
        for (std::size_t r = self.row_of(box.top); r <= self.row_of(box.bottom); ++r) {
            for (std::size_t c = self.column_of(box.left); c <= self.column_of(box.right); ++c) {
                visit(self.cells_[r * self.columns_ + c]);
            }
        }
    }
    template <typename Visit>
    void visit(const LabelBox& box, Visit visit_cell) const {
        visit_cells(*this, box, visit_cell);
    }
    template <typename Visit>
    void visit(const LabelBox& box, Visit visit_cell) {
        visit_cells(*this, box, visit_cell);
    }

    DrawRect room_;
    double cell_ = 1.0;
    std::size_t columns_ = 1;
    std::size_t rows_ = 1;
    std::vector<std::vector<std::uint32_t>> cells_;
    std::vector<LabelBox> boxes_;
};

bool inside(const LabelBox& box, const DrawRect& room) {
    return box.left >= room.x && box.top >= room.y && box.right <= static_cast<double>(room.x) + room.width &&
           box.bottom <= static_cast<double>(room.y) + room.height;
}

std::int32_t size_of(const Drawing& drawing, const DrawText& text) {
    return drawing.label_sizes[std::clamp(text.label_class, 1, 3) - 1];
}

struct Pending {
    std::size_t mark;
    double width;
};

// The nearest place around (x, y), in rings an em apart, where a box of `width` at `size` is free
// and inside the room; false when none is.
bool free_place_near(const BoxGrid& grid, const DrawRect& room, double x, double y, double width, std::int32_t size,
                     double& at_x, double& at_y) {
    const double step = std::max<std::int32_t>(size, 1);
    for (int ring = 1; ring <= kRings; ++ring) {
        double best = -1;
        for (int j = -ring; j <= ring; ++j) {
            for (int i = -ring; i <= ring; ++i) {
                if (std::max(std::abs(i), std::abs(j)) != ring) continue;
                const double cx = x + i * step;
                const double cy = y + j * step;
                const LabelBox box = label_box(cx, cy, width, size);
                if (!inside(box, room) || !grid.free(box)) continue;
                const double distance = double(i) * i + double(j) * j;
                if (best < 0 || distance < best) {
                    best = distance;
                    at_x = cx;
                    at_y = cy;
                }
            }
        }
        if (best >= 0) return true;
    }
    return false;
}

std::int32_t to_units(double value) {
    return static_cast<std::int32_t>(std::lround(std::clamp(value, -2147483647.0, 2147483647.0)));
}

// From the label's own place to the nearest point of its moved box.
void add_leader(Drawing& drawing, double from_x, double from_y, const LabelBox& box, std::int32_t size) {
    DrawLine leader;
    leader.points = {
        {to_units(from_x), to_units(from_y)},
        {to_units(std::clamp(from_x, box.left, box.right)), to_units(std::clamp(from_y, box.top, box.bottom))}};
    leader.stroke = "#000000";
    leader.width = std::max<std::int32_t>(1, size / 12);
    drawing.marks.emplace_back(std::move(leader));
}

// ---- Labels turned along their parcels ------------------------------------------------------------

constexpr double kPi = 3.14159265358979323846;

// Whether the segment a-b, in a frame centred on a box of half sides hw, hh, meets the box.
bool segment_meets_box(double ax, double ay, double bx, double by, double hw, double hh) {
    double enter = 0.0;
    double leave = 1.0;
    const double dx = bx - ax;
    const double dy = by - ay;
    const double q[] = {ax + hw, hw - ax, ay + hh, hh - ay};
    return clip_span(dx, dy, q, enter, leave);
}

// Whether the box of half sides hw (along the angle whose cosine and sine are c, s) and hh, centred
// at cx, cy, lies inside polygon `p`: its centre inside by the even-odd rule, no edge through it.
bool box_in_shape(const Drawing& drawing, std::size_t p, double cx, double cy, double c, double s, double hw,
                  double hh) {
    bool centre_inside = false;
    bool crossed = false;
    for_each_ring(drawing, p, [&](std::uint32_t begin, std::uint32_t end) {
        if (crossed || end <= begin) return;
        for (std::uint32_t i = begin; i < end; ++i) {
            const DrawPoint& a = drawing.vertices[i];
            const DrawPoint& b = drawing.vertices[i + 1 == end ? begin : i + 1];
            const double ax = a.x - cx, ay = a.y - cy, bx = b.x - cx, by = b.y - cy;
            if ((ay > 0) != (by > 0) && ax + (0 - ay) * (bx - ax) / (by - ay) > 0) centre_inside = !centre_inside;
            if (segment_meets_box(ax * c + ay * s, ay * c - ax * s, bx * c + by * s, by * c - bx * s, hw, hh)) {
                crossed = true;
                return;
            }
        }
    });
    return centre_inside && !crossed;
}

// A direction as whole degrees clockwise from the x axis, in (-90, 90]: text along it reads.
int readable_degrees(double radians) {
    if (!std::isfinite(radians)) return 0;
    auto degrees = static_cast<int>(std::lround(radians * 180 / kPi)) % 180;
    if (degrees <= -90) degrees += 180;
    if (degrees > 90) degrees -= 180;
    return degrees;
}

// The directions of the few edges of polygon `p` nearest to cx, cy, the longest first: along a
// strip where a bent or curved one runs past the label's place, not along a corner's short cut.
// `distance2` is the squared distance to the nearest.
constexpr std::size_t kNearEdges = 4;
struct NearEdge {
    double distance2 = -1;
    double length2 = 0;
    double radians = 0;
};
std::array<NearEdge, kNearEdges> nearest_edges(const Drawing& drawing, std::size_t p, double cx, double cy) {
    std::array<NearEdge, kNearEdges> near{};
    for_each_ring(drawing, p, [&](std::uint32_t begin, std::uint32_t end) {
        for (std::uint32_t i = begin; i < end; ++i) {
            const DrawPoint& a = drawing.vertices[i];
            const DrawPoint& b = drawing.vertices[i + 1 == end ? begin : i + 1];
            const double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
            const double length2 = dx * dx + dy * dy;
            if (length2 == 0) continue;
            const double t = std::clamp(((cx - a.x) * dx + (cy - a.y) * dy) / length2, 0.0, 1.0);
            const double ex = a.x + t * dx - cx, ey = a.y + t * dy - cy;
            NearEdge edge{ex * ex + ey * ey, length2, std::atan2(dy, dx)};
            // Kept nearest first: the new edge sinks into its place.
            for (NearEdge& kept : near) {
                if (kept.distance2 < 0 || edge.distance2 < kept.distance2) std::swap(kept, edge);
                if (edge.distance2 < 0) break;
            }
        }
    });
    return near;
}

// The direction of the long axis of polygon `p`'s outline (its principal axis), in whole degrees
// clockwise from the x axis, in (-90, 90]; `area` is the outline's.
int long_axis_degrees(const Drawing& drawing, std::size_t p, double& area) {
    double a = 0, sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
    bool first = true;
    for_each_ring(drawing, p, [&](std::uint32_t begin, std::uint32_t end) {
        if (!first || end <= begin) return;
        first = false;
        // From the first vertex, so that the sums keep their precision.
        const DrawPoint& o = drawing.vertices[begin];
        for (std::uint32_t i = begin; i < end; ++i) {
            const DrawPoint& u = drawing.vertices[i];
            const DrawPoint& v = drawing.vertices[i + 1 == end ? begin : i + 1];
            const double x0 = u.x - o.x, y0 = u.y - o.y, x1 = v.x - o.x, y1 = v.y - o.y;
            const double cross = x0 * y1 - x1 * y0;
            a += cross;
            sx += (x0 + x1) * cross;
            sy += (y0 + y1) * cross;
            sxx += (x0 * x0 + x0 * x1 + x1 * x1) * cross;
            syy += (y0 * y0 + y0 * y1 + y1 * y1) * cross;
            sxy += (x0 * y1 + 2 * x0 * y0 + 2 * x1 * y1 + x1 * y0) * cross;
        }
    });
    area = std::abs(a) / 2;
    if (a == 0) return 0;
    const double mx = sx / (3 * a), my = sy / (3 * a);
    const double xx = sxx / (6 * a) - mx * mx;
    const double yy = syy / (6 * a) - my * my;
    const double xy = sxy / (12 * a) - mx * my;
    return readable_degrees(0.5 * std::atan2(2 * xy, xx - yy));
}

// The polygon of a label's parcel, or false when it has none.
bool shape_of(const Drawing& drawing, const DrawText& text, std::size_t& p) {
    if (text.shape == 0 || text.shape > drawing.polygons.size()) return false;
    p = text.shape - 1;
    return true;
}

// Whether a label's box as it stands lies inside its parcel (true when the parcel is not known).
bool fits_across(const Drawing& drawing, const DrawText& text, const LabelBox& box) {
    std::size_t p = 0;
    if (!shape_of(drawing, text, p)) return true;
    return box_in_shape(drawing, p, (box.left + box.right) / 2, (box.top + box.bottom) / 2, 1, 0,
                        (box.right - box.left) / 2, (box.bottom - box.top) / 2);
}

// Turns a label about its own place along its parcel, by the edge nearest to it or the long axis,
// when it then lies inside the parcel, free of every other label and inside the room; the grid
// takes its bounding box.
bool turn_along(Drawing& drawing, DrawText& text, double width, BoxGrid& grid, const DrawRect& room) {
    std::size_t p = 0;
    if (!shape_of(drawing, text, p)) return false;
    const std::int32_t size = size_of(drawing, text);
    const double cx = text.x;
    const double cy = text.y;
    const double hw = width / 2 + size * 0.1;
    const double hh = size / 2.0 + size * 0.1;
    double area = 0;
    const int axis = long_axis_degrees(drawing, p, area);
    std::array<NearEdge, kNearEdges> near = nearest_edges(drawing, p, cx, cy);
    // A strip: some three times as long as it is wide where the label stands (its place is the
    // one farthest inside, half the width from the nearest edge).
    if (near[0].distance2 < 0 || !(area >= 3 * 4 * near[0].distance2)) return false;
    std::stable_sort(near.begin(), near.end(),
                     [](const NearEdge& a, const NearEdge& b) { return a.length2 > b.length2; });
    int tries[kNearEdges + 1] = {};
    std::size_t count = 0;
    for (const NearEdge& edge : near) {
        if (edge.distance2 >= 0) tries[count++] = readable_degrees(edge.radians);
    }
    tries[count++] = axis;
    for (std::size_t t = 0; t < count; ++t) {
        const int degrees = tries[t];
        // Level text is the place as it stands; a direction tried already is not tried again.
        if (degrees == 0 || std::find(tries, tries + t, degrees) != tries + t) continue;
        const double c = std::cos(degrees * kPi / 180);
        const double s = std::sin(degrees * kPi / 180);
        const double ex = std::abs(c) * hw + std::abs(s) * hh;
        const double ey = std::abs(s) * hw + std::abs(c) * hh;
        // At the label's place, else slid a little along the strip and across it: a place in a
        // junction or a bend is wider than the strip beside it.
        for (const double along : {0.0, 1.0, -1.0, 2.0, -2.0, 3.0, -3.0}) {
            for (const double across : {0.0, 0.5, -0.5}) {
                const double x = cx + (along * c - across * s) * size;
                const double y = cy + (along * s + across * c) * size;
                const LabelBox bound{x - ex, y - ey, x + ex, y + ey};
                if (!inside(bound, room) || !grid.free(bound) || !box_in_shape(drawing, p, x, y, c, s, hw, hh)) {
                    continue;
                }
                grid.add(bound);
                // The box centred there: its baseline lies below the centre, across the text.
                const double below = size * (kAscent - 0.5);
                text.x = to_units(x - below * s);
                text.y = to_units(y + below * c);
                text.rotation = degrees;
                return true;
            }
        }
    }
    return false;
}

struct KeyRow {
    std::string text;
    std::string lot;
    std::size_t marks_begin = 0;  // the number on the map and its leader, if any
    std::size_t marks_end = 0;
};

// The key's rows in columns in the bands of the paper's room around the map's extent, each where
// it meets no label; a row with no room left goes, and its number on the map with it.
std::vector<DrawText> paper_key(const Drawing& drawing, const std::vector<KeyRow>& key, const PaperKey& paper,
                                LabelWidths& widths, BoxGrid& grid, std::vector<bool>& drop, LeftOut& left_out) {
    const DrawRect& r = paper.room;
    const double right = double(r.x) + r.width;
    const double bottom = double(r.y) + r.height;
    const double ex0 = std::clamp(double(paper.extent.x), double(r.x), right);
    const double ey0 = std::clamp(double(paper.extent.y), double(r.y), bottom);
    const double ex1 = std::clamp(double(paper.extent.x) + paper.extent.width, ex0, right);
    const double ey1 = std::clamp(double(paper.extent.y) + paper.extent.height, ey0, bottom);
    const LabelBox bands[] = {{ex1, double(r.y), right, bottom},
                              {double(r.x), double(r.y), ex0, bottom},
                              {ex0, ey1, ex1, bottom},
                              {ex0, double(r.y), ex1, ey0}};
    const std::int32_t size = std::max<std::int32_t>(paper.size, 1);
    const double gap = size * 0.1;
    const double line = size * 1.5;
    double column_width = 0;
    for (const KeyRow& row : key) column_width = std::max(column_width, widths.width(row.text, size));
    const double column = column_width + 2.0 * size;
    std::size_t band = 0;
    double c = 0;  // the column and the row in the band
    double row_at = 0;
    std::vector<DrawText> rows;
    for (const KeyRow& row : key) {
        const double width = widths.width(row.text, size);
        bool placed = false;
        while (!placed && band < std::size(bands)) {
            const LabelBox& b = bands[band];
            const double x = b.left + size + c * column;
            const double y = b.top + (row_at + 1) * line;
            if (x + column_width + size > b.right) {
                ++band;
                c = row_at = 0;
                continue;
            }
            if (y + size * (1 - kAscent) + gap > b.bottom) {
                ++c;
                row_at = 0;
                continue;
            }
            ++row_at;
            const LabelBox box{x - gap, y - size * kAscent - gap, x + width + gap, y + size * (1 - kAscent) + gap};
            if (!grid.free(box)) continue;
            grid.add(box);
            DrawText text;
            text.x = to_units(x);
            text.y = to_units(y);
            text.anchor = TextAnchor::start;
            text.font = drawing.label_font;
            text.size = size;
            text.text = row.text;
            rows.push_back(std::move(text));
            placed = true;
        }
        if (placed) continue;
        ++left_out.count;
        if (left_out.first.size() < 3) left_out.first.push_back(plain_text_of(row.lot));
        for (std::size_t m = row.marks_begin; m < row.marks_end; ++m) drop[m] = true;
    }
    return rows;
}

}  // namespace

double LabelWidths::width(std::string_view text, std::int32_t size) {
    double ems = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = character_length(text, at);
        const std::string_view character = text.substr(at, length);
        at += length;
        std::size_t k = 0;
        while (k < count_ && characters_[k] != character) ++k;
        if (k == count_) {
            if (count_ == kMeasured) {
                ems += 1.0;
                continue;
            }
            platform::TextExtent extent;
            // An entity stands for one character of at most an em.
            double em = 1.0;
            if (character[0] != '&' && platform::measure_text(character, font_, kMeasureSize, extent) &&
                extent.ascent_plus_descent > 0) {
                em = static_cast<double>(extent.advance) / static_cast<double>(extent.ascent_plus_descent);
            }
            characters_[k] = std::string(character);
            ems_[k] = em;
            ++count_;
        }
        ems += ems_[k];
    }
    return ems * size;
}

LabelBox label_box(double x, double y, double width, std::int32_t size) {
    // A tenth of an em clear all round, so that neighbours never touch.
    const double gap = size * 0.1;
    return {x - width / 2 - gap, y - size * kAscent - gap, x + width / 2 + gap, y + size * (1 - kAscent) + gap};
}

LeftOut spread_labels(Drawing& drawing, std::size_t first_label, const DrawRect& room, const PaperKey* paper) {
    LabelWidths widths(drawing.label_font);
    std::vector<Pending> labels;
    std::int32_t largest = 1;
    for (std::size_t i = first_label; i < drawing.marks.size(); ++i) {
        const auto* text = std::get_if<DrawText>(&drawing.marks[i]);
        if (text == nullptr || text->label_class == 0) continue;
        const std::int32_t size = size_of(drawing, *text);
        largest = std::max(largest, size);
        labels.push_back({i, widths.width(text->text, size)});
    }
    // The larger classes first: they name the larger parcels and have the least room to move.
    std::stable_sort(labels.begin(), labels.end(), [&](const Pending& a, const Pending& b) {
        return std::get<DrawText>(drawing.marks[a.mark]).label_class <
               std::get<DrawText>(drawing.marks[b.mark]).label_class;
    });
    BoxGrid grid(room, 4.0 * largest, labels.size() * 2);
    if (paper != nullptr && paper->keep_clear.width > 0) {
        const DrawRect& k = paper->keep_clear;
        grid.add({double(k.x), double(k.y), double(k.x) + k.width, double(k.y) + k.height});
    }
    const auto box_of = [&](const Pending& label) {
        const auto& text = std::get<DrawText>(drawing.marks[label.mark]);
        return label_box(text.x, text.y, label.width, size_of(drawing, text));
    };
    std::vector<Pending> moving;
    for (const Pending& label : labels) {
        const LabelBox box = box_of(label);
        if (inside(box, room) && grid.free(box)) {
            auto& text = std::get<DrawText>(drawing.marks[label.mark]);
            // One that runs over the edges of a narrow strip is turned along it where it then fits.
            if (!fits_across(drawing, text, box) && turn_along(drawing, text, label.width, grid, room)) continue;
            grid.add(box);
        } else {
            moving.push_back(label);
        }
    }

    std::vector<KeyRow> key;
    std::vector<std::size_t> keyed;  // marks that leave the map for the key
    for (const Pending& label : moving) {
        auto& text = std::get<DrawText>(drawing.marks[label.mark]);
        const std::int32_t size = size_of(drawing, text);
        const double x = text.x;
        const double y = text.y;
        if (turn_along(drawing, text, label.width, grid, room)) continue;
        double at_x = 0;
        double at_y = 0;
        if (free_place_near(grid, room, x, y, label.width, size, at_x, at_y)) {
            const LabelBox box = label_box(at_x, at_y, label.width, size);
            grid.add(box);
            text.x = to_units(at_x);
            text.y = to_units(at_y);
            add_leader(drawing, x, y - size * kAscent / 2, box, size);
            continue;
        }
        // A number in the smallest size where the label should stand, the lot number in the key.
        const std::int32_t small = drawing.label_sizes[2];
        // Leaders go on the end of the marks, which may move them: the label is copied first.
        const DrawText label_text = text;
        const std::string number = format_text("(%llu)", static_cast<unsigned long long>(key.size() + 1));
        const double number_width = widths.width(number, small);
        KeyRow row{label_text.text, label_text.text, drawing.marks.size(), 0};
        bool numbered = false;
        at_x = x;
        at_y = y;
        const LabelBox own = label_box(x, y, number_width, small);
        if (inside(own, room) && grid.free(own)) {
            grid.add(own);
            numbered = true;
        } else if (free_place_near(grid, room, x, y, number_width, small, at_x, at_y)) {
            const LabelBox box = label_box(at_x, at_y, number_width, small);
            grid.add(box);
            add_leader(drawing, x, y - small * kAscent / 2, box, small);
            numbered = true;
        }
        if (numbered) {
            DrawText mark = label_text;
            mark.label_class = 3;
            mark.text = number;
            mark.x = to_units(at_x);
            mark.y = to_units(at_y);
            drawing.marks.emplace_back(std::move(mark));
            row.text = number + " " + label_text.text;
        }
        row.marks_end = drawing.marks.size();
        key.push_back(std::move(row));
        keyed.push_back(label.mark);
    }
    if (key.empty()) return {};

    // One pass, not one erase a label: a crowded map sends most of its labels to the key.
    std::vector<bool> drop(drawing.marks.size(), false);
    for (const std::size_t mark : keyed) drop[mark] = true;
    LeftOut left_out;
    std::vector<DrawText> paper_rows;
    if (paper != nullptr) paper_rows = paper_key(drawing, key, *paper, widths, grid, drop, left_out);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < drawing.marks.size(); ++i) {
        if (drop[i]) continue;
        if (kept != i) drawing.marks[kept] = std::move(drawing.marks[i]);
        ++kept;
    }
    drawing.marks.resize(kept);
    if (paper != nullptr) {
        for (DrawText& row : paper_rows) drawing.marks.emplace_back(std::move(row));
        return left_out;
    }

    // The key: rows in the smallest size, in columns to the right of the drawing.
    const std::int32_t small = std::max<std::int32_t>(drawing.label_sizes[2], 1);
    const std::int32_t line = small + small / 2;
    const std::int32_t top = std::max<std::int32_t>(room.y, small);
    const std::int32_t rows = std::max<std::int32_t>(1, (room.y + room.height - top) / line);
    double column_width = 0;
    for (const KeyRow& row : key) column_width = std::max(column_width, widths.width(row.text, small));
    const std::int32_t column = to_units(column_width) + 2 * small;
    const std::int32_t old_width = drawing.width;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto c = static_cast<std::int64_t>(i / static_cast<std::size_t>(rows));
        const auto r = static_cast<std::int64_t>(i % static_cast<std::size_t>(rows));
        DrawText row;
        row.x = to_units(static_cast<double>(std::int64_t{old_width} + small + c * column));
        row.y = to_units(static_cast<double>(top + (r + 1) * line));
        row.anchor = TextAnchor::start;
        row.font = drawing.label_font;
        row.size = small;
        row.text = std::move(key[i].text);
        drawing.marks.emplace_back(std::move(row));
    }
    const auto columns =
        static_cast<std::int64_t>((key.size() + static_cast<std::size_t>(rows) - 1) / static_cast<std::size_t>(rows));
    drawing.width = to_units(static_cast<double>(std::int64_t{old_width} + columns * column + small));
    // The page keeps its units per drawing unit.
    drawing.page_width = old_width > 0 ? drawing.page_width * drawing.width / old_width : drawing.page_width;
    return left_out;
}

}  // namespace chizuvec
