#include "quality/map_check.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "common/utf8.hpp"
#include "geometry/plane_projection.hpp"
#include "model/id_index.hpp"
#include "quality/overlap_area.hpp"
#include "quality/ring_checks.hpp"
#include "quality/zone_table.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kOutsideDistrict = "地区外";
constexpr std::string_view kSeparateSheet = "別図";

// Curves whose ends lie closer than this join: below the millimetre the files give.
constexpr double kJoinGap = 0.0005;
// A ring below this area has none: the smallest nonzero area of points on a millimetre grid is
// half a square millimetre.
constexpr double kNoArea = 1e-7;
// Parcels overlapping by at most this are neighbours measured apart, not a fault.
constexpr double kOverlapFloor = 0.01;
// How far outside its prefecture's extent a map may land before its zone is implausible.
constexpr double kZoneMargin = 0.3;

std::string xy_text(const PlanePoint& p) { return format_text("X=%.3f Y=%.3f", p.y, p.x); }

bool valid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text, i);
        if (!c.well_formed) return false;
        i += c.length;
    }
    return true;
}

// Do the ring's points lie on one line? (A ring of equal lobes crossing each other has no signed
// area either, but is a crossing.)
bool collinear(std::span<const PlanePoint> ring) {
    const PlanePoint& o = ring.front();
    const PlanePoint* far = &o;
    double far_distance = 0.0;
    for (const PlanePoint& p : ring) {
        const double d = std::hypot(p.x - o.x, p.y - o.y);
        if (d > far_distance) far_distance = d, far = &p;
    }
    if (far_distance == 0.0) return true;
    for (const PlanePoint& p : ring) {
        const double off = ((far->x - o.x) * (p.y - o.y) - (far->y - o.y) * (p.x - o.x)) / far_distance;
        if (std::abs(off) > 1e-6) return false;
    }
    return true;
}

// One surface's rings as checked: the polygon for overlaps when every ring is sound.
struct CheckedShape {
    bool checked = false;
    bool sound = false;
    PlanePolygon polygon;
};

class MapChecker {
  public:
    MapChecker(const MapDataset& dataset, const MapHeader& header, bool cut_off, std::vector<Finding>& findings)
        : d_(dataset), header_(header), cut_off_(cut_off), findings_(findings) {
        surfaces_ = build_id_index(d_.surfaces);
        curves_ = build_id_index(d_.curves);
        points_ = build_id_index(d_.points);
        zone_ = plane_zone_of(field_view(header.coord_system));
        if (zone_ != 0) projection_.emplace(zone_);
        shapes_.resize(d_.surfaces.size());
    }

    void run() {
        const std::size_t first_finding = findings_.size();
        check_texts();
        for (std::uint32_t p = 0; p < d_.parcel_count(); ++p) check_parcel(p);
        check_lots();
        check_sheets();
        check_overlaps();
        check_zone();
        for (std::size_t i = first_finding; i < findings_.size(); ++i) locate(findings_[i]);
    }

  private:
    const ParcelDetail& detail(std::uint32_t p) const { return d_.gis.parcels[p]; }

    std::string lot_of(std::uint32_t p) const {
        const ParcelDetail& t = detail(p);
        return t.text(ParcelText::oaza) + t.text(ParcelText::chome) + t.text(ParcelText::koaza) +
               t.text(ParcelText::chiban);
    }

    bool separate(std::uint32_t p) const {
        const std::string_view chiban = detail(p).text(ParcelText::chiban);
        return chiban.find(kOutsideDistrict) != std::string_view::npos ||
               chiban.find(kSeparateSheet) != std::string_view::npos;
    }

    Finding& add(FindingKind kind, std::int64_t parcel, std::string text) {
        Finding& f = findings_.emplace_back();
        f.kind = kind;
        if (parcel >= 0) {
            const auto p = static_cast<std::uint32_t>(parcel);
            f.parcel_id = detail(p).text(ParcelText::parcel_id);
            f.lot = lot_of(p);
        }
        f.detail = std::move(text);
        return f;
    }

    Finding& add_at(FindingKind kind, std::int64_t parcel, std::string text, const PlanePoint& at) {
        Finding& f = add(kind, parcel, std::move(text));
        f.located = true;
        f.x = at.y;
        f.y = at.x;
        return f;
    }

    // The parcel's place: the middle of its outline's box, when it has one.
    void place_at_parcel(Finding& f, std::uint32_t p) const {
        const std::uint32_t s = parcel_surface(p);
        if (s == kNoRecord || !shapes_[s].checked || shapes_[s].polygon.points.empty()) return;
        const Box& b = shapes_[s].polygon.box;
        f.located = true;
        f.x = (b.min_y + b.max_y) / 2.0;
        f.y = (b.min_x + b.max_x) / 2.0;
    }

    void locate(Finding& f) const {
        if (!f.located || !projection_) return;
        const GeoPoint g = projection_->convert(f.x, f.y);
        if (!std::isfinite(g.longitude) || !std::isfinite(g.latitude)) return;
        f.geographic = true;
        f.longitude = g.longitude;
        f.latitude = g.latitude;
    }

    std::uint32_t parcel_surface(std::uint32_t p) const {
        const std::uint32_t shape = d_.parcels[p].shape_no;
        return shape == 0 ? kNoRecord : surfaces_.find(shape);
    }

    void check_texts() {
        std::size_t bad = 0;
        std::int64_t first = -1;
        for (std::uint32_t p = 0; p < d_.parcel_count(); ++p) {
            for (const std::string& text : detail(p).texts) {
                if (valid_utf8(text)) continue;
                ++bad;
                if (first < 0) first = p;
            }
        }
        for (const std::string_view head :
             {field_view(header_.map_name), field_view(header_.municipality_name), field_view(header_.coord_system)}) {
            if (!valid_utf8(head)) ++bad;
        }
        if (bad == 0) return;
        add(FindingKind::damaged_file, first, format_text("texts that are not valid UTF-8: %zu", bad));
    }

    // The positions of one ring curve by curve; false when it names what the file does not have.
    bool ring_positions(std::uint32_t parcel, std::uint32_t surface_no, const RingRun& ring,
                        std::vector<PlanePoint>& out) {
        out.clear();
        std::optional<PlanePoint> previous_end;
        std::uint32_t previous_curve = 0;
        PlanePoint ring_start;
        bool gap_told = false;
        for (std::uint32_t r = ring.first_ref; r < ring.first_ref + ring.count; ++r) {
            const std::uint32_t curve_no = d_.ring_curves[r];
            const std::uint32_t c = curves_.find(curve_no);
            if (c == kNoRecord) {
                add(FindingKind::missing_reference, parcel,
                    format_text("surface %u names curve %u, which the file does not have", surface_no, curve_no));
                return false;
            }
            const CurveRun& run = d_.gis.curves[c];
            if (run.count == 0) {
                add(FindingKind::missing_reference, parcel, format_text("curve %u names no point", curve_no));
                return false;
            }
            for (std::uint32_t k = 0; k < run.count; ++k) {
                const std::uint32_t i = run.reversed ? run.first + run.count - 1 - k : run.first + k;
                const std::uint32_t reference = d_.gis.curve_points[i];
                PlanePosition position;
                if ((reference & kDirectPosition) != 0) {
                    position = d_.gis.direct_positions[reference & ~kDirectPosition];
                } else {
                    const std::uint32_t at = points_.find(reference);
                    if (at == kNoRecord) {
                        add(FindingKind::missing_reference, parcel,
                            reference == kNoSuchPoint
                                ? format_text("curve %u names a point the file does not have", curve_no)
                                : format_text("curve %u names point %u, which the file does not have", curve_no,
                                              reference));
                        return false;
                    }
                    position = {d_.points[at].x, d_.points[at].y};
                }
                if (!std::isfinite(position.x) || !std::isfinite(position.y)) {
                    add(FindingKind::damaged_file, parcel,
                        format_text("curve %u has a point without a number", curve_no));
                    return false;
                }
                const PlanePoint point{position.y, position.x};
                if (k == 0) {
                    if (!previous_end) {
                        ring_start = point;
                    } else if (!gap_told &&
                               std::hypot(point.x - previous_end->x, point.y - previous_end->y) > kJoinGap) {
                        add_at(FindingKind::ring_not_closed, parcel,
                               format_text("curve %u starts %.3f m from where curve %u ends", curve_no,
                                           std::hypot(point.x - previous_end->x, point.y - previous_end->y),
                                           previous_curve),
                               *previous_end);
                        gap_told = true;
                    }
                }
                if (out.empty() || out.back().x != point.x || out.back().y != point.y) out.push_back(point);
                if (k + 1 == run.count) previous_end = point;
            }
            previous_curve = curve_no;
        }
        if (previous_end && !gap_told) {
            const double gap = std::hypot(ring_start.x - previous_end->x, ring_start.y - previous_end->y);
            if (gap > kJoinGap) {
                add_at(FindingKind::ring_not_closed, parcel,
                       format_text("the ring ends %.3f m from where it starts", gap), *previous_end);
            }
        }
        if (!out.empty() && (out.front().x != out.back().x || out.front().y != out.back().y)) {
            out.push_back(out.front());
        }
        return true;
    }

    void check_parcel(std::uint32_t p) {
        const Parcel& parcel = d_.parcels[p];
        if (parcel.shape_no == 0) return;
        const std::uint32_t s = surfaces_.find(parcel.shape_no);
        if (s == kNoRecord) {
            add(FindingKind::missing_reference, p,
                format_text("the parcel's shape names surface %u, which the file does not have", parcel.shape_no));
            return;
        }
        CheckedShape& shape = shapes_[s];
        if (shape.checked) return;  // a surface shared by parcels is checked with the first
        shape.checked = true;
        shape.sound = true;
        const MapSurface& rings = d_.surfaces[s];
        std::vector<PlanePoint> ring;
        std::vector<PlanePoint> exterior;
        bool has_exterior = false;
        for (std::uint32_t r = rings.first_ring; r < rings.first_ring + rings.ring_count; ++r) {
            const RingRun& run = d_.rings[r];
            if (!ring_positions(p, parcel.shape_no, run, ring)) {
                shape.sound = false;
                shape.polygon.points.clear();
                shape.polygon.ring_ends.clear();
                break;
            }
            if (!ring.empty()) {
                // Kept for the parcel's place even when a ring is faulty.
                shape.polygon.points.insert(shape.polygon.points.end(), ring.begin(), ring.end());
                shape.polygon.ring_ends.push_back(static_cast<std::uint32_t>(shape.polygon.points.size()));
            }
            const std::size_t distinct = ring.size() <= 1 ? ring.size() : ring.size() - 1;
            const double area = ring_signed_area(ring);
            if (distinct < 3) {
                add_at(FindingKind::ring_degenerate, p, format_text("the ring has %zu distinct points", distinct),
                       ring.empty() ? PlanePoint{} : ring.front())
                    .located = !ring.empty();
                shape.sound = false;
                continue;
            }
            if (std::abs(area) < kNoArea && collinear(ring)) {
                add_at(FindingKind::ring_degenerate, p, format_text("the ring of %zu points has no area", distinct),
                       ring.front());
                shape.sound = false;
                continue;
            }
            if (const std::optional<PlanePoint> at = ring_self_crossing(ring)) {
                add_at(FindingKind::ring_self_intersects, p, "the ring crosses itself at " + xy_text(*at), *at);
                shape.sound = false;
                continue;
            }
            // Exteriors counter-clockwise, holes clockwise, for the overlap areas.
            const std::size_t begin =
                shape.polygon.ring_ends.size() >= 2 ? shape.polygon.ring_ends[shape.polygon.ring_ends.size() - 2] : 0;
            if ((area > 0.0) == run.interior) {
                std::reverse(shape.polygon.points.begin() + static_cast<std::ptrdiff_t>(begin),
                             shape.polygon.points.end());
            }
            if (!run.interior) {
                exterior = ring;
                has_exterior = true;
                continue;
            }
            if (!has_exterior) {
                add_at(FindingKind::hole_outside, p, "a hole comes before any outline", ring.front());
                shape.sound = false;
                continue;
            }
            if (const std::optional<PlanePoint> at = rings_cross(ring, exterior)) {
                add_at(FindingKind::hole_outside, p, "the hole crosses its outline at " + xy_text(*at), *at);
                shape.sound = false;
                continue;
            }
            for (const PlanePoint& v : ring) {
                if (distance_to_ring(v, exterior) < 1e-6) continue;
                if (!inside_ring(v, exterior)) {
                    add_at(FindingKind::hole_outside, p, "the hole lies outside its outline", v);
                    shape.sound = false;
                }
                break;
            }
        }
        shape.polygon.box = box_of(shape.polygon.points);
        if (shape.polygon.points.empty()) shape.sound = false;
    }

    void check_lots() {
        std::unordered_map<std::string, std::uint32_t> first_of;
        for (std::uint32_t p = 0; p < d_.parcel_count(); ++p) {
            const ParcelDetail& t = detail(p);
            if (t.text(ParcelText::chiban).empty() || separate(p)) continue;
            std::string key = t.text(ParcelText::oaza_code);
            for (const ParcelText part : {ParcelText::chome_code, ParcelText::koaza_code, ParcelText::chiban}) {
                key += '\x1F';
                key += t.text(part);
            }
            const auto [it, added] = first_of.emplace(std::move(key), p);
            if (added) continue;
            Finding& f = add(FindingKind::duplicate_lot, p,
                             "the same 大字, 丁目 and 小字 codes and 地番 as 筆ID " +
                                 detail(it->second).text(ParcelText::parcel_id));
            place_at_parcel(f, p);
        }
    }

    void check_sheets() {
        std::vector<std::uint32_t> listings(d_.parcels.size(), 0);
        std::unordered_map<std::string_view, const MapSheet*> sheet_of;
        for (const MapSheet& sheet : d_.sheets) sheet_of.emplace(field_view(sheet.map_no), &sheet);
        std::vector<std::uint8_t> told(d_.parcels.size(), 0);
        for (const SheetListing& l : d_.sheet_listings) {
            if (l.parcel >= d_.parcels.size()) continue;
            ++listings[l.parcel];
            if (l.map_no >= d_.sheet_map_nos.size() || told[l.parcel] != 0) continue;
            const std::string_view number = field_view(d_.sheet_map_nos[l.map_no].text);
            const auto found = sheet_of.find(number);
            if (found == sheet_of.end() || !found->second->has_frame) continue;
            const std::uint32_t s = parcel_surface(l.parcel);
            if (s == kNoRecord || !shapes_[s].sound) continue;
            const PlanePolygon frame = frame_polygon(*found->second);
            if (frame.points.empty()) continue;
            if (overlap_area(shapes_[s].polygon, frame).area > kNoArea) continue;
            if (inside_ring(shapes_[s].polygon.points.front(), frame.points)) continue;  // on its edge
            Finding& f = add(FindingKind::outside_sheet, l.parcel,
                             "the parcel lies wholly outside the frame of sheet " + std::string(number));
            place_at_parcel(f, l.parcel);
            told[l.parcel] = 1;
        }
        for (std::uint32_t p = 0; p < d_.parcel_count() && !cut_off_; ++p) {
            if (listings[p] != 0) continue;
            Finding& f = add(FindingKind::not_in_sheet, p, "no 図郭 lists the parcel");
            place_at_parcel(f, p);
        }
    }

    static PlanePolygon frame_polygon(const MapSheet& sheet) {
        PlanePolygon frame;
        // 左下, 右下, 右上, 左上: around the frame.
        for (const int corner : {0, 2, 3, 1, 0})
            frame.points.push_back({sheet.corner_y[corner], sheet.corner_x[corner]});
        const double area = ring_signed_area(frame.points);
        if (!std::isfinite(area) || std::abs(area) < kNoArea) return {};
        if (area < 0.0) std::reverse(frame.points.begin(), frame.points.end());
        frame.ring_ends.push_back(5);
        frame.box = box_of(frame.points);
        return frame;
    }

    void check_overlaps() {
        std::vector<std::uint32_t> parcels;
        std::vector<Box> boxes;
        for (std::uint32_t p = 0; p < d_.parcel_count(); ++p) {
            const std::uint32_t s = parcel_surface(p);
            if (s == kNoRecord || !shapes_[s].sound || separate(p)) continue;
            parcels.push_back(p);
            boxes.push_back(shapes_[s].polygon.box);
        }
        meeting_pairs(boxes, [&](std::uint32_t i, std::uint32_t j) {
            const std::uint32_t a = parcels[i];
            const std::uint32_t b = parcels[j];
            // Their overlap is no larger than that of their boxes: neighbours on a straight street
            // need no more.
            const Box& p = boxes[i];
            const Box& q = boxes[j];
            const double box_overlap = (std::min(p.max_x, q.max_x) - std::max(p.min_x, q.min_x)) *
                                       (std::min(p.max_y, q.max_y) - std::max(p.min_y, q.min_y));
            if (box_overlap <= kOverlapFloor) return true;
            const OverlapArea overlap =
                overlap_area(shapes_[parcel_surface(a)].polygon, shapes_[parcel_surface(b)].polygon);
            if (overlap.area > kOverlapFloor) {
                add_at(FindingKind::overlap, a,
                       format_text("%s and %s (筆ID %s) overlap by %.3f m2", lot_of(a).c_str(), lot_of(b).c_str(),
                                   detail(b).text(ParcelText::parcel_id).c_str(), overlap.area),
                       overlap.centroid);
            }
            return true;
        });
    }

    void check_zone() {
        const std::string_view coord_system = field_view(header_.coord_system);
        if (coord_system == kArbitraryCoordSystem) return;
        Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        for (const CheckedShape& shape : shapes_) {
            if (!shape.checked || shape.polygon.points.empty()) continue;
            box.min_x = std::min(box.min_x, shape.polygon.box.min_x);
            box.min_y = std::min(box.min_y, shape.polygon.box.min_y);
            box.max_x = std::max(box.max_x, shape.polygon.box.max_x);
            box.max_y = std::max(box.max_y, shape.polygon.box.max_y);
        }
        if (box.min_x > box.max_x) return;  // no parcel has a place
        const PlanePoint middle{(box.min_x + box.max_x) / 2.0, (box.min_y + box.max_y) / 2.0};
        const std::string_view code = field_view(header_.municipality_code);
        int prefecture = 0;
        if (code.size() >= 2 && code[0] >= '0' && code[0] <= '9' && code[1] >= '0' && code[1] <= '9') {
            prefecture = (code[0] - '0') * 10 + (code[1] - '0');
        }
        const std::span<const ZoneArea> areas = zones_of_prefecture(prefecture);
        std::string zones;
        for (const ZoneArea& a : areas) zones += (zones.empty() ? "" : ", ") + std::to_string(a.zone);
        const auto fitting = [&]() -> std::string {
            for (const ZoneArea& a : areas) {
                const GeoPoint g = PlaneToGeographic(a.zone).convert(middle.y, middle.x);
                if (std::isfinite(g.latitude) && near_area(a, g.longitude, g.latitude, kZoneMargin)) {
                    return format_text("; 公共座標%d系 fits", a.zone);
                }
            }
            return areas.empty() ? std::string() : std::string("; no zone of the prefecture fits");
        };
        if (zone_ == 0) {
            add_at(FindingKind::zone_implausible, -1,
                   "座標系 \"" + std::string(coord_system) + "\" is no plane zone" + fitting(), middle);
            return;
        }
        const GeoPoint g = projection_->convert(middle.y, middle.x);
        const bool placed = std::isfinite(g.latitude) && std::isfinite(g.longitude);
        const std::string where =
            placed ? format_text("%.4fN %.4fE", g.latitude, g.longitude) : std::string("beyond the zone's reach");
        const bool zone_applies = areas.empty() || std::any_of(areas.begin(), areas.end(),
                                                               [&](const ZoneArea& a) { return a.zone == zone_; });
        if (!zone_applies) {
            add_at(FindingKind::zone_implausible, -1,
                   format_text("公共座標%d系 is not a zone of prefecture %02d (zones %s); it puts the parcels at %s",
                               zone_, prefecture, zones.c_str(), where.c_str()) +
                       fitting(),
                   middle);
            return;
        }
        if (!placed || !within_japan(g.longitude, g.latitude)) {
            add_at(FindingKind::zone_implausible, -1,
                   format_text("公共座標%d系 puts the parcels at %s, outside Japan", zone_, where.c_str()) + fitting(),
                   middle);
            return;
        }
        if (areas.empty()) return;
        const bool near = std::any_of(areas.begin(), areas.end(), [&](const ZoneArea& a) {
            return near_area(a, g.longitude, g.latitude, kZoneMargin);
        });
        if (!near) {
            add_at(FindingKind::zone_implausible, -1,
                   format_text("公共座標%d系 puts the parcels at %s, far outside prefecture %02d", zone_, where.c_str(),
                               prefecture) +
                       fitting(),
                   middle);
        }
    }

    const MapDataset& d_;
    const MapHeader& header_;
    bool cut_off_ = false;
    std::vector<Finding>& findings_;
    IdIndex surfaces_;
    IdIndex curves_;
    IdIndex points_;
    int zone_ = 0;
    std::optional<PlaneToGeographic> projection_;
    std::vector<CheckedShape> shapes_;  // by surface position
};

}  // namespace

void check_map(const MapDataset& dataset, const MapHeader& header, bool cut_off, std::vector<Finding>& findings) {
    MapChecker(dataset, header, cut_off, findings).run();
}

}  // namespace chizuvec
