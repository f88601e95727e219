#include "quality/zone_table.hpp"

#include <iterator>

namespace chizuvec {
namespace {

struct PrefectureZones {
    int code;
    ZoneArea areas[4];
    int count;
};

// Extents are generous boxes around each part, islands included; a map is implausible only when it
// lands well outside them (see near_area's margin at the caller).
constexpr PrefectureZones kPrefectures[] = {
    {1, {{11, 41.3, 44.2, 139.3, 141.6}, {12, 41.8, 45.6, 140.9, 144.0}, {13, 41.9, 44.6, 142.8, 148.9}}, 3},
    {2, {{10, 40.2, 41.6, 139.4, 141.7}}, 1},
    {3, {{10, 38.7, 40.5, 140.6, 142.1}}, 1},
    {4, {{10, 37.7, 39.0, 140.2, 141.7}}, 1},
    {5, {{10, 39.0, 40.6, 139.6, 141.0}}, 1},
    {6, {{10, 37.7, 39.3, 139.5, 140.7}}, 1},
    {7, {{9, 36.7, 38.0, 139.1, 141.1}}, 1},
    {8, {{9, 35.7, 37.0, 139.6, 140.9}}, 1},
    {9, {{9, 36.1, 37.2, 139.3, 140.3}}, 1},
    {10, {{9, 35.9, 37.1, 138.3, 139.7}}, 1},
    {11, {{9, 35.7, 36.3, 138.7, 139.9}}, 1},
    {12, {{9, 34.8, 36.2, 139.7, 140.9}}, 1},
    // Tokyo: the mainland and the Izu islands; the Ogasawara islands; Okinotorishima; Minamitorishima.
    {13,
     {{9, 29.7, 35.9, 138.9, 140.0},
      {14, 24.0, 27.8, 140.8, 142.4},
      {18, 20.3, 20.5, 136.0, 136.2},
      {19, 24.2, 24.4, 153.9, 154.1}},
     4},
    {14, {{9, 35.1, 35.7, 138.9, 139.9}}, 1},
    {15, {{8, 36.7, 38.6, 137.6, 139.9}}, 1},
    {16, {{7, 36.2, 37.0, 136.7, 137.8}}, 1},
    {17, {{7, 36.0, 37.9, 136.2, 137.4}}, 1},
    {18, {{6, 35.3, 36.3, 135.4, 136.9}}, 1},
    {19, {{8, 35.1, 36.0, 138.1, 139.2}}, 1},
    {20, {{8, 35.2, 37.1, 137.3, 138.8}}, 1},
    {21, {{7, 35.1, 36.5, 136.2, 137.7}}, 1},
    {22, {{8, 34.5, 35.7, 137.4, 139.2}}, 1},
    {23, {{7, 34.5, 35.5, 136.6, 137.9}}, 1},
    {24, {{6, 33.7, 35.3, 135.8, 137.0}}, 1},
    {25, {{6, 34.7, 35.7, 135.7, 136.5}}, 1},
    {26, {{6, 34.7, 35.8, 134.8, 136.1}}, 1},
    {27, {{6, 34.2, 35.1, 135.0, 135.8}}, 1},
    {28, {{5, 34.1, 35.7, 134.2, 135.5}}, 1},
    {29, {{6, 33.8, 34.8, 135.5, 136.3}}, 1},
    {30, {{6, 33.4, 34.4, 135.0, 136.1}}, 1},
    {31, {{5, 35.0, 35.7, 133.1, 134.6}}, 1},
    {32, {{3, 34.3, 36.4, 131.6, 133.4}}, 1},
    {33, {{5, 34.3, 35.4, 133.2, 134.5}}, 1},
    {34, {{3, 34.0, 35.2, 132.0, 133.5}}, 1},
    {35, {{3, 33.7, 34.8, 130.7, 132.5}}, 1},
    {36, {{4, 33.5, 34.3, 133.6, 134.9}}, 1},
    {37, {{4, 34.0, 34.6, 133.4, 134.5}}, 1},
    {38, {{4, 32.8, 34.3, 132.0, 133.7}}, 1},
    {39, {{4, 32.7, 33.9, 132.4, 134.4}}, 1},
    {40, {{2, 33.0, 34.3, 129.9, 131.2}}, 1},
    {41, {{2, 32.9, 33.7, 129.7, 130.6}}, 1},
    {42, {{1, 31.9, 34.8, 128.0, 130.4}}, 1},
    {43, {{2, 32.0, 33.2, 129.9, 131.4}}, 1},
    {44, {{2, 32.7, 33.8, 130.8, 132.1}}, 1},
    {45, {{2, 31.3, 32.9, 130.7, 131.9}}, 1},
    // Kagoshima: the mainland, Tanegashima and Yakushima; the islands to the south and west.
    {46, {{2, 30.0, 32.3, 129.9, 131.4}, {1, 27.0, 32.0, 128.3, 130.3}}, 2},
    // Okinawa: the main island and around; the Sakishima islands; the Daito islands.
    {47, {{15, 25.8, 27.9, 126.6, 128.4}, {16, 23.9, 26.0, 122.9, 125.6}, {17, 24.4, 26.0, 131.1, 131.4}}, 3},
};

}  // namespace

std::span<const ZoneArea> zones_of_prefecture(int code) {
    for (const PrefectureZones& p : kPrefectures) {
        if (p.code == code) return std::span<const ZoneArea>(p.areas, static_cast<std::size_t>(p.count));
    }
    return {};
}

bool within_japan(double longitude, double latitude) {
    return latitude >= 20.0 && latitude <= 46.0 && longitude >= 122.0 && longitude <= 154.0;
}

bool near_area(const ZoneArea& area, double longitude, double latitude, double margin) {
    return latitude >= area.south - margin && latitude <= area.north + margin && longitude >= area.west - margin &&
           longitude <= area.east + margin;
}

}  // namespace chizuvec
