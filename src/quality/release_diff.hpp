// What changed between two releases of a municipality's map files: parcels matched by their lot
// (市区町村コード, 大字コード, 丁目コード, 小字コード, 予備コード and 地番), never by 筆ID, which every
// release renumbers; each pair compared by outline and attributes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/polylabel.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

// A parcel's texts end to end, in ParcelText order: one allocation instead of one per text, as a
// whole release is held at once.
class CompactTexts {
  public:
    CompactTexts() = default;
    explicit CompactTexts(const ParcelDetail& detail);
    std::string_view text(ParcelText t) const;
    bool has(ParcelText t) const { return (present_ >> static_cast<unsigned>(t)) & 1u; }

  private:
    std::string joined_;
    std::uint32_t ends_[kParcelTextCount] = {};
    std::uint32_t present_ = 0;
};

// The boundary points a map file names (点番名), with their positions (easting, northing): a release
// renumbers its points, but keeps their names. Names end to end in one text, as a whole release is
// held at once; sorted for look-up rather than hashed, so that no file chooses names that collide.
class NamedPoints {
  public:
    // Appends a point; its index.
    std::uint32_t add(std::string_view name, PlanePoint at);
    // Makes `find` see every point added; the first of a name is the one found.
    void index();
    // The index of `name`, or kNoName.
    std::uint32_t find(std::string_view name) const;
    std::string_view name(std::uint32_t i) const;
    PlanePoint at(std::uint32_t i) const { return at_[i]; }
    static constexpr std::uint32_t kNoName = 0xFFFFFFFFu;

  private:
    std::string names_;
    std::vector<std::uint32_t> ends_;
    std::vector<PlanePoint> at_;
    std::vector<std::uint32_t> sorted_;  // indices by name, then by index
};

// A parcel as the comparison keeps it, without the dataset it was read into.
struct ReleaseParcel {
    std::string key;  // 市区町村コード, the lot's codes and 地番, each followed by '\x1F'
    CompactTexts detail;
    int zone = 0;  // the map's plane zone; 0 for 任意座標系 and unknown systems
    // Rings end to end (closed; exteriors counter-clockwise, holes clockwise): ring r is
    // points[ring_ends[r-1], ring_ends[r]); a ring with its bit in `holes` set is a hole.
    std::vector<PlanePoint> points;  // easting, northing
    std::vector<std::uint32_t> ring_ends;
    std::vector<bool> holes;
    double area = 0.0;                 // m²: exteriors less holes
    std::vector<std::uint32_t> named;  // its vertices the map names, as indices of its file's NamedPoints
    bool shaped = false;
    std::uint32_t file = 0;  // the map file it came from, as its run numbers them

    std::string_view municipality_code() const { return std::string_view(key).substr(0, key.find('\x1F')); }
};

// The parcels of a map file read with the GIS detail, 地区外 and 別図 lots left out; with the survey
// points read too, the named points in `points` and, of each parcel, which of them it uses.
void release_parcels(const MapDataset& dataset, const MapHeader& header, std::vector<ReleaseParcel>& out,
                     NamedPoints* points = nullptr);

enum class ChangeKind { added, removed, reshaped, attributes };
std::string_view change_kind_name(ChangeKind kind);

struct ParcelChange {
    ChangeKind kind = ChangeKind::added;
    double max_shift_m = 0.0;  // reshaped: the largest move of a vertex
    std::string detail;
};

// How `now` differs from `old` (the same lot); nothing when it does not. A vertex that moved more
// than 1 cm, or vertices added or removed, reshape a parcel; otherwise a text that differs changes
// its attributes. 筆ID is no attribute: every release renumbers it. Given the named points of both
// files, each named point of `now` that stands more than 1 cm from where the old file has its name
// reshapes it too, and is told by name.
std::optional<ParcelChange> compare_parcels(const ReleaseParcel& old, const ReleaseParcel& now,
                                            const NamedPoints* old_points = nullptr,
                                            const NamedPoints* now_points = nullptr);

}  // namespace chizuvec
