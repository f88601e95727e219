#include "render/label_spread.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/text_format.hpp"
#include "platform/platform.hpp"

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

void spread_labels(Drawing& drawing, std::size_t first_label, const DrawRect& room) {
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
    const auto box_of = [&](const Pending& label) {
        const auto& text = std::get<DrawText>(drawing.marks[label.mark]);
        return label_box(text.x, text.y, label.width, size_of(drawing, text));
    };
    std::vector<Pending> moving;
    for (const Pending& label : labels) {
        const LabelBox box = box_of(label);
        if (inside(box, room) && grid.free(box)) {
            grid.add(box);
        } else {
            moving.push_back(label);
        }
    }

    struct KeyRow {
        std::string text;
    };
    std::vector<KeyRow> key;
    std::vector<std::size_t> keyed;  // marks that leave the map for the key
    for (const Pending& label : moving) {
        auto& text = std::get<DrawText>(drawing.marks[label.mark]);
        const std::int32_t size = size_of(drawing, text);
        const double x = text.x;
        const double y = text.y;
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
        std::string row = label_text.text;
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
            row = number + " " + label_text.text;
        }
        key.push_back({std::move(row)});
        keyed.push_back(label.mark);
    }
    if (key.empty()) return;

    // The key: rows in the smallest size, in columns to the right of the drawing.
    // One pass, not one erase a label: a crowded map sends most of its labels to the key.
    for (const std::size_t mark : keyed) std::get<DrawText>(drawing.marks[mark]).label_class = -1;
    drawing.marks.erase(std::remove_if(drawing.marks.begin(), drawing.marks.end(),
                                       [](const DrawMark& mark) {
                                           const auto* text = std::get_if<DrawText>(&mark);
                                           return text != nullptr && text->label_class == -1;
                                       }),
                        drawing.marks.end());
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
}

}  // namespace chizuvec
