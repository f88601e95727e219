// Which plane zones (公共座標1系 .. 19系) apply to each prefecture, as the Geospatial Information
// Authority's table of zones gives them, with the rough extent in longitude and latitude of the part
// of the prefecture each zone covers.
#pragma once

#include <span>

namespace chizuvec {

struct ZoneArea {
    int zone = 0;
    double south = 0.0;  // latitude, degrees
    double north = 0.0;
    double west = 0.0;  // longitude, degrees
    double east = 0.0;
};

// The zones of prefecture `code` (the first two digits of a 市区町村コード, 1 .. 47); empty for any
// other code.
std::span<const ZoneArea> zones_of_prefecture(int code);

// Is the point within Japan's extent (20°N to 46°N, 122°E to 154°E)?
bool within_japan(double longitude, double latitude);

// Is the point inside the area, or within `margin` degrees of it?
bool near_area(const ZoneArea& area, double longitude, double latitude, double margin);

}  // namespace chizuvec
