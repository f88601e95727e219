// The features of one map file for the GIS outputs: each parcel's MultiPolygon from every ring of
// its surface and every point of its curves, in output coordinates, with its attributes. Built on
// the thread that read the file, kept as plain arrays until the run writes them in input order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "geometry/polylabel.hpp"
#include "gis/feature_writer.hpp"
#include "model/id_index.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec {

struct FeatureBuildOptions {
    GisCoordinates coordinates = GisCoordinates::geographic;
    int zone = 0;                  // geographic: the plane zone, 1 .. 19
    bool include_outside = false;  // keep the lots whose 地番 holds 地区外 or 別図
    // The most outline points the features may hold; a file beyond it gives none.
    std::uint64_t max_points = UINT64_MAX;
    std::string_view map_file;  // UTF-8, the file's name without folder
};

// The features of a file, end to end: feature f has the values [f * kParcelFieldCount, ...), the
// points xy[point_begin[f] * 2, point_begin[f + 1] * 2), the rings ring_ends[ring_begin[f],
// ring_begin[f + 1]) (ends counted from the feature's first point) and the polygons likewise.
struct FeatureBatch {
    std::string texts;  // the text values, end to end
    struct StoredValue {
        bool null = true;
        std::uint32_t offset = 0;
        std::uint32_t size = 0;
        std::int32_t integer = 0;
        double number = 0.0;
    };
    std::vector<StoredValue> values;
    std::vector<double> xy;
    std::vector<std::uint32_t> ring_ends;
    std::vector<std::uint32_t> polygon_ends;
    std::vector<std::uint32_t> point_begin{0};
    std::vector<std::uint32_t> ring_begin{0};
    std::vector<std::uint32_t> polygon_begin{0};
    std::size_t without_shape = 0;  // features with a null geometry
    static constexpr std::size_t kNamedShapeless = 10;
    std::vector<std::string> shapeless_lots;  // the 地番 of the first of them, at most kNamedShapeless
    // Lots left out as 地区外 or 別図 (by the reader or here), and the 地番 of the first of them.
    std::size_t left_out = 0;
    std::vector<std::string> left_out_lots;  // at most kNamedShapeless

    std::size_t size() const { return point_begin.size() - 1; }
};

// The points of one ring in map metres, easting first, consecutive duplicates dropped, closed. False
// when a curve or point it names is missing, or a coordinate is no number. With `sources`, each
// point's place among the file's points (below point_count()) or, past them, among its direct
// positions, so that what is worked out per point is worked out once.
bool plane_ring_points(const MapDataset& dataset, const IdIndex& curves, const IdIndex& points, const RingRun& ring,
                       std::vector<PlanePoint>& out, std::vector<std::uint32_t>* sources = nullptr);

// For each surface, the points its rings would hold at most: every point of every curve named and a
// closing point per ring. A ring may name one long curve many times, so callers bound the sum of
// these before building any shape.
std::vector<std::uint64_t> surface_point_counts(const MapDataset& dataset, const IdIndex& curves);

// Those points summed over the parcels' surfaces, each surface once or once per parcel that names
// it; counting stops past `limit`, so the sum cannot wrap.
std::uint64_t parcel_shape_points(const MapDataset& dataset, bool surfaces_once, std::uint64_t limit);

// Builds the features of the parcels of `dataset`, read with the GIS detail, assembled and measured
// (for the listing's areas). The points every kept parcel's rings name are counted first: when they
// are more than options.max_points, nothing is built and the count is returned; else 0.
std::uint64_t build_parcel_features(const MapDataset& dataset, const MapHeader& header,
                                    const FeatureBuildOptions& options, FeatureBatch& batch);

// The batch as bytes appended to `out`, for a spool on disk, and read back from them: false when the
// bytes are not one whole batch.
void append_feature_batch_bytes(std::string& out, const FeatureBatch& batch);
bool read_feature_batch_bytes(std::string_view bytes, FeatureBatch& batch);

// Hands the features to `writer` in order; false as soon as the writer fails.
bool write_feature_batch(FeatureWriter& writer, const FeatureBatch& batch);

}  // namespace chizuvec
