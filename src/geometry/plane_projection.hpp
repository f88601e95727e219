// Longitude and latitude of points in the plane rectangular coordinate systems of Japan
// (公共座標1系 .. 公共座標19系, Gauss-Krüger on GRS80 with scale 0.9999 at each zone's origin), by the
// closed-form inverse series of the Geospatial Information Authority of Japan (Kawase 2011). The
// result is on JGD2011: the zone N system is EPSG:(6668 + N), the geographic one EPSG:6668.
#pragma once

#include <string_view>

namespace chizuvec {

inline constexpr int kPlaneZoneCount = 19;

// The zone a map's 座標系 names: "公共座標N系" with N from 1 to 19 in ASCII or full-width digits; 0
// for any other text (任意座標系 among them).
int plane_zone_of(std::string_view coord_system);

struct GeoPoint {
    double longitude = 0.0;  // degrees east
    double latitude = 0.0;   // degrees north
};

// The inverse projection of one zone, its constants worked out once.
class PlaneToGeographic {
  public:
    explicit PlaneToGeographic(int zone);  // 1 .. kPlaneZoneCount
    // `northing` is the map's X, `easting` its Y, in metres from the zone's origin. Points beyond
    // the series' reach (more than 1,000 km east or west of the central meridian, or within 1,000 km
    // of a pole) give NaN for both, rather than a place on the other side of the globe.
    GeoPoint convert(double northing, double easting) const;

  private:
    double origin_longitude_ = 0.0;  // radians
    double origin_meridian_arc_ = 0.0;
    double rectifying_radius_ = 0.0;
};

}  // namespace chizuvec
