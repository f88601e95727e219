// Small datasets built in code for the geometry, measures and listing tests, plus capture of the
// messages written to a FILE*.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "common/fixed_text.hpp"
#include "model/map_dataset.hpp"

namespace chizuvec::test {

inline void add_point(MapDataset& ds, std::uint32_t id_no, double x, double y) {
    MapPoint p;
    p.id_no = id_no;
    p.x = x;
    p.y = y;
    ds.points.push_back(p);
}

inline void add_curve(MapDataset& ds, std::uint32_t id_no, std::uint32_t start, std::uint32_t end) {
    ds.curves.push_back(MapCurve{id_no, start, end});
}

// A surface whose rings are the given curve numbers (the first its outline, the others holes),
// appended to ring_curves; no curves is a surface without rings.
inline void add_surface_rings(MapDataset& ds, std::uint32_t id_no,
                              const std::vector<std::vector<std::uint32_t>>& rings) {
    MapSurface s;
    s.id_no = id_no;
    s.first_ring = static_cast<std::uint32_t>(ds.rings.size());
    for (const std::vector<std::uint32_t>& curve_nos : rings) {
        if (curve_nos.empty()) continue;
        RingRun ring{ds.ring_curve_count(), static_cast<std::uint32_t>(curve_nos.size()), s.ring_count != 0};
        for (std::uint32_t c : curve_nos) ds.ring_curves.push_back(c);
        ds.rings.push_back(ring);
        ++s.ring_count;
        if (curve_nos.size() > ds.max_ring_curves) ds.max_ring_curves = static_cast<std::uint32_t>(curve_nos.size());
    }
    ds.surfaces.push_back(s);
}

inline void add_surface(MapDataset& ds, std::uint32_t id_no, const std::vector<std::uint32_t>& curve_nos) {
    add_surface_rings(ds, id_no, {curve_nos});
}

// A closed ring through the given point numbers: curve k runs from point k to point k+1 (the last
// back to the first). Curve numbers start at `first_curve_no`.
inline void add_ring(MapDataset& ds, std::uint32_t surface_no, std::uint32_t first_curve_no,
                     std::initializer_list<std::uint32_t> point_nos) {
    const std::uint32_t* p = point_nos.begin();
    const auto n = static_cast<std::uint32_t>(point_nos.size());
    for (std::uint32_t k = 0; k < n; ++k) add_curve(ds, first_curve_no + k, p[k], p[(k + 1) % n]);
    std::vector<std::uint32_t> curve_nos;
    for (std::uint32_t k = 0; k < n; ++k) curve_nos.push_back(first_curve_no + k);
    add_surface(ds, surface_no, curve_nos);
}

inline Parcel& add_parcel(MapDataset& ds, std::uint32_t id_no, std::uint32_t shape_no, std::string_view map_no = "",
                          std::string_view chiban = "", std::string_view address = "") {
    Parcel parcel;
    parcel.id_no = id_no;
    parcel.shape_no = shape_no;
    copy_text(parcel.map_no, map_no);
    copy_text(parcel.chiban, chiban);
    copy_text(parcel.address, address);
    ds.parcels.push_back(parcel);
    return ds.parcels.back();
}

// A temporary FILE* whose whole content can be read back.
struct CapturedFile {
    std::FILE* file = std::tmpfile();
    CapturedFile() = default;
    CapturedFile(const CapturedFile&) = delete;
    CapturedFile& operator=(const CapturedFile&) = delete;
    ~CapturedFile() {
        if (file != nullptr) std::fclose(file);
    }
    std::string text() const {
        std::fflush(file);
        std::rewind(file);
        std::string s;
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) s.append(buffer, n);
        return s;
    }
};

}  // namespace chizuvec::test
