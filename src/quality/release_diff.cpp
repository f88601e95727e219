#include "quality/release_diff.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

#include "common/fixed_text.hpp"
#include "common/text_format.hpp"
#include "geometry/plane_projection.hpp"
#include "gis/parcel_features.hpp"
#include "model/id_index.hpp"
#include "quality/ring_checks.hpp"

namespace chizuvec {
namespace {

constexpr std::string_view kOutsideDistrict = "地区外";
constexpr std::string_view kSeparateSheet = "別図";
constexpr double kMoved = 0.01;  // metres: a vertex moved by more than this reshapes its parcel

struct AttributeName {
    ParcelText text;
    std::string_view name;
};
constexpr AttributeName kAttributes[] = {
    {ParcelText::oaza, "大字名"},
    {ParcelText::chome, "丁目名"},
    {ParcelText::koaza, "小字名"},
    {ParcelText::yobi, "予備名"},
    {ParcelText::undetermined, "筆界未定構成筆"},
    {ParcelText::accuracy, "精度区分"},
    {ParcelText::position_kind, "座標値種別"},
};

class ParcelReader {
  public:
    ParcelReader(const MapDataset& dataset, const MapHeader& header) : d_(dataset), header_(header) {
        surfaces_ = build_id_index(d_.surfaces);
        curves_ = build_id_index(d_.curves);
        points_ = build_id_index(d_.points);
        zone_ = plane_zone_of(field_view(header.coord_system));
    }

    // The named points, and where each stands, so that a vertex finds its name by its position.
    void read_names(NamedPoints& points) {
        for (const BoundaryPoint& point : d_.boundary_points) {
            const std::uint32_t at = point.point_no == 0 ? kNoRecord : points_.find(point.point_no);
            if (at == kNoRecord || at >= d_.point_count()) continue;
            const PlanePoint position{d_.points[at].y, d_.points[at].x};
            name_at_.push_back({key_of(position), points.add(field_view(point.name), position)});
        }
        // Sorted, not hashed: a file cannot choose positions that make the look-ups slow. The first
        // name of a position wins.
        std::stable_sort(name_at_.begin(), name_at_.end(),
                         [](const NamedAt& a, const NamedAt& b) { return a.first < b.first; });
        name_at_.erase(std::unique(name_at_.begin(), name_at_.end(),
                                   [](const NamedAt& a, const NamedAt& b) { return a.first == b.first; }),
                       name_at_.end());
    }

    void read(std::vector<ReleaseParcel>& out) {
        for (std::uint32_t p = 0; p < d_.parcel_count(); ++p) {
            const ParcelDetail& detail = d_.gis.parcels[p];
            const std::string_view chiban = detail.text(ParcelText::chiban);
            if (chiban.find(kOutsideDistrict) != std::string_view::npos ||
                chiban.find(kSeparateSheet) != std::string_view::npos) {
                continue;
            }
            ReleaseParcel& parcel = out.emplace_back();
            parcel.key = field_view(header_.municipality_code);
            for (const ParcelText part : {ParcelText::oaza_code, ParcelText::chome_code, ParcelText::koaza_code,
                                          ParcelText::yobi_code, ParcelText::chiban}) {
                parcel.key += '\x1F';
                parcel.key += detail.text(part);
            }
            parcel.key.shrink_to_fit();
            parcel.detail = CompactTexts(detail);
            parcel.zone = zone_;
            add_shape(d_.parcels[p], parcel);
        }
    }

  private:
    bool ring_points(const RingRun& ring, std::vector<PlanePoint>& out) const {
        return plane_ring_points(d_, curves_, points_, ring, out);
    }

    void add_shape(const Parcel& source, ReleaseParcel& parcel) const {
        const std::uint32_t s = source.shape_no == 0 ? kNoRecord : surfaces_.find(source.shape_no);
        if (s == kNoRecord) return;
        const MapSurface& rings = d_.surfaces[s];
        std::vector<PlanePoint> ring;
        for (std::uint32_t r = rings.first_ring; r < rings.first_ring + rings.ring_count; ++r) {
            const RingRun& run = d_.rings[r];
            if (!ring_points(run, ring)) {
                parcel.points.clear();
                parcel.ring_ends.clear();
                parcel.holes.clear();
                parcel.area = 0.0;
                return;
            }
            if (ring.size() < 4) continue;
            const double area = ring_signed_area(ring);
            if (area == 0.0) continue;
            if ((area > 0.0) == run.interior) std::reverse(ring.begin(), ring.end());
            parcel.points.insert(parcel.points.end(), ring.begin(), ring.end());
            parcel.ring_ends.push_back(static_cast<std::uint32_t>(parcel.points.size()));
            parcel.holes.push_back(run.interior);
            parcel.area += run.interior ? -std::abs(area) : std::abs(area);
        }
        parcel.shaped = !parcel.ring_ends.empty();
        parcel.points.shrink_to_fit();
        if (name_at_.empty()) return;
        for (const PlanePoint& p : parcel.points) {
            const Key key = key_of(p);
            const auto found = std::lower_bound(name_at_.begin(), name_at_.end(), key,
                                                [](const NamedAt& a, const Key& k) { return a.first < k; });
            if (found != name_at_.end() && found->first == key) parcel.named.push_back(found->second);
        }
        // A ring's closing point, and a point shared by two rings, once.
        std::sort(parcel.named.begin(), parcel.named.end());
        parcel.named.erase(std::unique(parcel.named.begin(), parcel.named.end()), parcel.named.end());
        parcel.named.shrink_to_fit();
    }

    // A position by the bits of its coordinates: the same point gives the same bits.
    using Key = std::pair<std::uint64_t, std::uint64_t>;
    using NamedAt = std::pair<Key, std::uint32_t>;
    static Key key_of(const PlanePoint& p) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, &p.x, sizeof x);
        std::memcpy(&y, &p.y, sizeof y);
        return {x, y};
    }

    const MapDataset& d_;
    const MapHeader& header_;
    IdIndex surfaces_;
    IdIndex curves_;
    IdIndex points_;
    int zone_ = 0;
    // A vertex's name by its exact position, sorted by it: the ring walk gives positions, not point
    // numbers.
    std::vector<NamedAt> name_at_;
};

// The vertices of a parcel, each ring's closing point left out.
std::vector<PlanePoint> vertices_of(const ReleaseParcel& parcel) {
    std::vector<PlanePoint> out;
    std::uint32_t begin = 0;
    for (const std::uint32_t end : parcel.ring_ends) {
        out.insert(out.end(), parcel.points.begin() + begin, parcel.points.begin() + end - 1);
        begin = end;
    }
    return out;
}

// For each of `from`, the distance to the nearest of `to` (sorted by x), through a scan outward
// along x that stops where x alone is farther than the best.
std::vector<double> nearest_distances(std::span<const PlanePoint> from, std::span<const PlanePoint> to) {
    std::vector<double> out;
    out.reserve(from.size());
    for (const PlanePoint& p : from) {
        const auto at =
            std::lower_bound(to.begin(), to.end(), p.x, [](const PlanePoint& q, double x) { return q.x < x; });
        double best = HUGE_VAL;
        for (auto it = at; it != to.end() && it->x - p.x < best; ++it)
            best = std::min(best, std::hypot(it->x - p.x, it->y - p.y));
        for (auto it = at; it != to.begin();) {
            --it;
            if (p.x - it->x >= best) break;
            best = std::min(best, std::hypot(it->x - p.x, it->y - p.y));
        }
        out.push_back(best);
    }
    return out;
}

}  // namespace

CompactTexts::CompactTexts(const ParcelDetail& detail) : present_(detail.present) {
    std::size_t size = 0;
    for (const std::string& t : detail.texts) size += t.size();
    joined_.reserve(size);
    for (std::size_t i = 0; i < kParcelTextCount; ++i) {
        joined_ += detail.texts[i];
        ends_[i] = static_cast<std::uint32_t>(joined_.size());
    }
}

std::string_view CompactTexts::text(ParcelText t) const {
    const auto i = static_cast<std::size_t>(t);
    const std::uint32_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(joined_).substr(begin, ends_[i] - begin);
}

std::uint32_t NamedPoints::add(std::string_view name, PlanePoint at) {
    names_ += name;
    ends_.push_back(static_cast<std::uint32_t>(names_.size()));
    at_.push_back(at);
    return static_cast<std::uint32_t>(at_.size() - 1);
}

std::string_view NamedPoints::name(std::uint32_t i) const {
    const std::uint32_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(names_).substr(begin, ends_[i] - begin);
}

void NamedPoints::index() {
    sorted_.resize(at_.size());
    for (std::uint32_t i = 0; i < sorted_.size(); ++i) sorted_[i] = i;
    std::stable_sort(sorted_.begin(), sorted_.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return name(a) < name(b); });
}

std::uint32_t NamedPoints::find(std::string_view wanted) const {
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), wanted,
                                     [&](std::uint32_t i, std::string_view n) { return name(i) < n; });
    return it != sorted_.end() && name(*it) == wanted ? *it : kNoName;
}

void release_parcels(const MapDataset& dataset, const MapHeader& header, std::vector<ReleaseParcel>& out,
                     NamedPoints* points) {
    ParcelReader reader(dataset, header);
    if (points != nullptr) reader.read_names(*points);
    reader.read(out);
    if (points != nullptr) points->index();
}

std::string_view change_kind_name(ChangeKind kind) {
    constexpr std::string_view kNames[] = {"added", "removed", "reshaped", "attributes"};
    return kNames[static_cast<int>(kind)];
}

namespace {

constexpr std::size_t kMovedPointsTold = 10;

// The named points of `now` that moved, by name and distance, the largest move in `largest`.
std::string moved_points(const ReleaseParcel& now, const NamedPoints& old_points, const NamedPoints& now_points,
                         double& largest) {
    std::string text;
    std::size_t moved = 0;
    for (const std::uint32_t i : now.named) {
        const std::uint32_t before = old_points.find(now_points.name(i));
        if (before == NamedPoints::kNoName) continue;
        const PlanePoint a = old_points.at(before);
        const PlanePoint b = now_points.at(i);
        const double distance = std::hypot(b.x - a.x, b.y - a.y);
        if (!(distance > kMoved)) continue;
        largest = std::max(largest, distance);
        if (++moved > kMovedPointsTold) continue;
        if (!text.empty()) text += ", ";
        text += "boundary point ";
        text += now_points.name(i);
        text += format_text(" moved %.3f m", distance);
    }
    if (moved > kMovedPointsTold) text += format_text(" and %zu more", moved - kMovedPointsTold);
    return text;
}

}  // namespace

std::optional<ParcelChange> compare_parcels(const ReleaseParcel& old, const ReleaseParcel& now,
                                            const NamedPoints* old_points, const NamedPoints* now_points) {
    ParcelChange change;
    std::string shape;
    if (old.shaped != now.shaped) {
        shape = now.shaped ? "the parcel has a shape now" : "the parcel has lost its shape";
    } else if (now.shaped) {
        std::vector<PlanePoint> before = vertices_of(old);
        const std::vector<PlanePoint> after = vertices_of(now);
        std::vector<PlanePoint> after_sorted = after;
        const auto by_x = [](const PlanePoint& a, const PlanePoint& b) { return a.x < b.x; };
        std::sort(after_sorted.begin(), after_sorted.end(), by_x);
        const std::vector<double> moves_back = nearest_distances(before, after_sorted);
        std::sort(before.begin(), before.end(), by_x);
        const std::vector<double> moves = nearest_distances(after, before);
        std::size_t moved = 0;
        for (const double m : moves) {
            if (m > kMoved) ++moved;
            change.max_shift_m = std::max(change.max_shift_m, m);
        }
        for (const double m : moves_back) change.max_shift_m = std::max(change.max_shift_m, m);
        if (after.size() != before.size() || old.ring_ends.size() != now.ring_ends.size()) {
            shape = format_text("%zu vertices in %zu rings, were %zu in %zu", after.size(), now.ring_ends.size(),
                                before.size(), old.ring_ends.size());
        }
        if (moved != 0) {
            if (!shape.empty()) shape += "; ";
            shape += format_text("%zu vertices moved, up to %.3f m", moved, change.max_shift_m);
        }
    }
    if (old_points != nullptr && now_points != nullptr && now.shaped) {
        const std::string points = moved_points(now, *old_points, *now_points, change.max_shift_m);
        if (!points.empty()) shape += (shape.empty() ? "" : "; ") + points;
    }
    std::string attributes;
    for (const AttributeName& a : kAttributes) {
        const std::string_view before = old.detail.text(a.text);
        const std::string_view after = now.detail.text(a.text);
        if (before == after && old.detail.has(a.text) == now.detail.has(a.text)) continue;
        if (!attributes.empty()) attributes += "; ";
        attributes += std::string(a.name) + " \"" + std::string(before) + "\" to \"" + std::string(after) + "\"";
    }
    if (shape.empty() && attributes.empty()) return std::nullopt;
    change.kind = shape.empty() ? ChangeKind::attributes : ChangeKind::reshaped;
    change.detail = shape.empty() ? attributes : attributes.empty() ? shape : shape + "; " + attributes;
    return change;
}

}  // namespace chizuvec
