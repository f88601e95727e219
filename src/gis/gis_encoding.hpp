// What the binary GIS writers share: little-endian numbers appended to a byte buffer, the
// bounding box of coordinates, and the check that a feature's geometry spans fit together.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gis/feature_writer.hpp"

namespace chizuvec {

using GisBytes = std::vector<std::uint8_t>;

// `text` as a JSON string, quotes included; ill-formed UTF-8 stands for U+FFFD.
void append_json_text(std::string& out, std::string_view text);

inline void put_u8(GisBytes& out, std::uint8_t value) { out.push_back(value); }
inline void put_u16_le(GisBytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}
inline void put_u32_le(GisBytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}
inline void put_u64_le(GisBytes& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}
inline void put_f64_le(GisBytes& out, double value) { put_u64_le(out, std::bit_cast<std::uint64_t>(value)); }

// Little-endian numbers and bytes written in place at `at`, in room the caller has made; each
// returns where the next begins.
inline std::uint8_t* store_u32(std::uint8_t* at, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &v, 4);
    } else {
        for (int b = 0; b < 4; ++b) at[b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return at + 4;
}
inline std::uint8_t* store_f64(std::uint8_t* at, double value) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, 8);
    } else {
        const auto v = std::bit_cast<std::uint64_t>(value);
        for (int b = 0; b < 8; ++b) at[b] = static_cast<std::uint8_t>(v >> (8 * b));
    }
    return at + 8;
}
inline std::uint8_t* store_bytes(std::uint8_t* at, std::string_view bytes) {
    if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
    return at + bytes.size();
}
// Doubles or 32-bit integers one after another (Parquet's PLAIN encoding, WKB's coordinates).
template <class Number>
std::uint8_t* store_plain(std::uint8_t* at, std::span<const Number> values) {
    static_assert(sizeof(Number) == 4 || sizeof(Number) == 8);
    if constexpr (std::endian::native == std::endian::little) {
        if (!values.empty()) std::memcpy(at, values.data(), values.size_bytes());
        return at + values.size_bytes();
    } else {
        for (const Number value : values) {
            if constexpr (sizeof(Number) == 8) {
                at = store_f64(at, value);
            } else {
                at = store_u32(at, static_cast<std::uint32_t>(value));
            }
        }
        return at;
    }
}

// A feature's MultiPolygon in little-endian WKB, rings as the feature winds them: its size (9 bytes,
// 9 more per polygon, 4 per ring and 16 per point), and the bytes written at `at`.
inline std::size_t wkb_multipolygon_size(const GisFeature& feature) {
    return 9 + 9 * feature.polygon_ends.size() + 4 * feature.ring_ends.size() + 8 * feature.xy.size();
}
std::uint8_t* store_wkb_multipolygon(std::uint8_t* at, const GisFeature& feature);

// A bounding box; empty (min above max) until a point is added.
struct GisEnvelope {
    double min_x = std::numeric_limits<double>::infinity();
    double min_y = std::numeric_limits<double>::infinity();
    double max_x = -std::numeric_limits<double>::infinity();
    double max_y = -std::numeric_limits<double>::infinity();

    bool empty() const { return min_x > max_x; }
    void add(double x, double y) {
        if (x < min_x) min_x = x;
        if (x > max_x) max_x = x;
        if (y < min_y) min_y = y;
        if (y > max_y) max_y = y;
    }
    void add(const GisEnvelope& other) {
        if (other.empty()) return;
        add(other.min_x, other.min_y);
        add(other.max_x, other.max_y);
    }
};

// The envelope of every point of a feature; empty for a null geometry.
GisEnvelope feature_envelope(const GisFeature& feature);

// Does the feature fit the schema (one value per field, `field_count` of them) and do its spans describe whole rings
// and polygons (ends rising, within the points, the last polygon ending at the last ring, the last ring at the last
// point, a ring of at least 4 points)? Empty when it does, else what is wrong.
std::string check_feature(std::size_t field_count, const GisFeature& feature);

}  // namespace chizuvec
