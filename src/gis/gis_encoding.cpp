#include "gis/gis_encoding.hpp"

namespace chizuvec {

GisEnvelope feature_envelope(const GisFeature& feature) {
    GisEnvelope box;
    if (feature.ring_ends.empty()) return box;
    for (std::size_t i = 0; i + 1 < feature.xy.size(); i += 2) box.add(feature.xy[i], feature.xy[i + 1]);
    return box;
}

std::string check_feature(std::size_t field_count, const GisFeature& feature) {
    if (feature.values.size() != field_count) {
        return "a feature has " + std::to_string(feature.values.size()) + " values for " + std::to_string(field_count) +
               " fields";
    }
    const std::size_t points = feature.xy.size() / 2;
    if (feature.ring_ends.empty()) {
        if (!feature.polygon_ends.empty() || !feature.xy.empty())
            return "a feature without rings has points or polygons";
        return {};
    }
    if (feature.xy.size() % 2 != 0) return "a feature has an odd number of coordinates";
    std::size_t start = 0;
    for (const std::uint32_t end : feature.ring_ends) {
        if (end > points || end < start + 4) return "a feature has a ring of fewer than 4 points or beyond its points";
        start = end;
    }
    if (start != points) return "a feature has points after its last ring";
    std::size_t first_ring = 0;
    for (const std::uint32_t end : feature.polygon_ends) {
        if (end > feature.ring_ends.size() || end <= first_ring) return "a feature has a polygon without rings";
        first_ring = end;
    }
    if (first_ring != feature.ring_ends.size()) return "a feature has rings after its last polygon";
    return {};
}

std::uint8_t* store_wkb_multipolygon(std::uint8_t* at, const GisFeature& feature) {
    constexpr std::uint32_t kPolygon = 3;
    constexpr std::uint32_t kMultiPolygon = 6;
    *at = 1;
    at = store_u32(store_u32(at + 1, kMultiPolygon), static_cast<std::uint32_t>(feature.polygon_ends.size()));
    std::uint32_t ring = 0;
    for (const std::uint32_t polygon_end : feature.polygon_ends) {
        *at = 1;
        at = store_u32(store_u32(at + 1, kPolygon), polygon_end - ring);
        for (; ring < polygon_end; ++ring) {
            const std::uint32_t from = ring == 0 ? 0 : feature.ring_ends[ring - 1];
            const std::uint32_t to = feature.ring_ends[ring];
            at = store_u32(at, to - from);
            at = store_plain(at, feature.xy.subspan(2 * std::size_t{from}, 2 * std::size_t{to - from}));
        }
    }
    return at;
}

}  // namespace chizuvec
