#include "geometry/plane_projection.hpp"

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace chizuvec {
namespace {

// GRS80 and the scale on the central meridian of every zone.
constexpr double kSemiMajorAxis = 6378137.0;
constexpr double kInverseFlattening = 298.257222101;
constexpr double kScale = 0.9999;
constexpr double kThirdFlattening = 1.0 / (2.0 * kInverseFlattening - 1.0);

struct Origin {
    int latitude_degrees;
    int longitude_degrees;
    int longitude_minutes;
};

// The origin of zones 1 .. 19, in this order.
constexpr Origin kOrigins[kPlaneZoneCount] = {
    {33, 129, 30}, {33, 131, 0},  {36, 132, 10}, {33, 133, 30}, {36, 134, 20}, {36, 136, 0},  {36, 137, 10},
    {36, 138, 30}, {36, 139, 50}, {40, 140, 50}, {44, 140, 15}, {44, 142, 15}, {44, 144, 15}, {26, 142, 0},
    {26, 127, 30}, {26, 124, 0},  {26, 131, 0},  {20, 136, 0},  {26, 154, 0},
};

constexpr double kDegree = std::numbers::pi / 180.0;

// The series in the third flattening n, to its fifth and sixth powers.
struct Series {
    double a[6];      // meridian arc: a[0] the rectifying factor, a[1..5] the sine terms
    double beta[6];   // from the plane to the conformal sphere, 1..5
    double delta[7];  // from the conformal latitude to the latitude, 1..6
};

Series make_series() {
    const double n = kThirdFlattening;
    const double n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
    Series s{};
    s.a[0] = 1.0 + n2 / 4.0 + n4 / 64.0;
    s.a[1] = -3.0 / 2.0 * (n - n3 / 8.0 - n5 / 64.0);
    s.a[2] = 15.0 / 16.0 * (n2 - n4 / 4.0);
    s.a[3] = -35.0 / 48.0 * (n3 - 5.0 / 16.0 * n5);
    s.a[4] = 315.0 / 512.0 * n4;
    s.a[5] = -693.0 / 1280.0 * n5;
    s.beta[1] = n / 2.0 - 2.0 / 3.0 * n2 + 37.0 / 96.0 * n3 - n4 / 360.0 - 81.0 / 512.0 * n5;
    s.beta[2] = n2 / 48.0 + n3 / 15.0 - 437.0 / 1440.0 * n4 + 46.0 / 105.0 * n5;
    s.beta[3] = 17.0 / 480.0 * n3 - 37.0 / 840.0 * n4 - 209.0 / 4480.0 * n5;
    s.beta[4] = 4397.0 / 161280.0 * n4 - 11.0 / 504.0 * n5;
    s.beta[5] = 4583.0 / 161280.0 * n5;
    s.delta[1] = 2.0 * n - 2.0 / 3.0 * n2 - 2.0 * n3 + 116.0 / 45.0 * n4 + 26.0 / 45.0 * n5 - 2854.0 / 675.0 * n6;
    s.delta[2] = 7.0 / 3.0 * n2 - 8.0 / 5.0 * n3 - 227.0 / 45.0 * n4 + 2704.0 / 315.0 * n5 + 2323.0 / 945.0 * n6;
    s.delta[3] = 56.0 / 15.0 * n3 - 136.0 / 35.0 * n4 - 1262.0 / 105.0 * n5 + 73814.0 / 2835.0 * n6;
    s.delta[4] = 4279.0 / 630.0 * n4 - 332.0 / 35.0 * n5 - 399572.0 / 14175.0 * n6;
    s.delta[5] = 4174.0 / 315.0 * n5 - 144838.0 / 6237.0 * n6;
    s.delta[6] = 601676.0 / 22275.0 * n6;
    return s;
}

const Series kSeries = make_series();

// From the equator to a pole along the central meridian, at the zones' scale: about 10,001 km.
const double kQuarterMeridian =
    kScale * kSemiMajorAxis / (1.0 + kThirdFlattening) * kSeries.a[0] * std::numbers::pi / 2.0;

bool is_digit_at(std::string_view text, std::size_t i, int& digit, std::size_t& width) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= '0' && c <= '9') {
        digit = c - '0';
        width = 1;
        return true;
    }
    // Full-width digits: EF BC 90 .. EF BC 99.
    if (i + 2 < text.size() && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBC) {
        const auto d = static_cast<unsigned char>(text[i + 2]);
        if (d >= 0x90 && d <= 0x99) {
            digit = d - 0x90;
            width = 3;
            return true;
        }
    }
    return false;
}

}  // namespace

int plane_zone_of(std::string_view coord_system) {
    constexpr std::string_view kPrefix = "公共座標";
    constexpr std::string_view kSuffix = "系";
    if (!coord_system.starts_with(kPrefix) || !coord_system.ends_with(kSuffix)) return 0;
    const std::string_view digits =
        coord_system.substr(kPrefix.size(), coord_system.size() - kPrefix.size() - kSuffix.size());
    int zone = 0;
    std::size_t i = 0;
    int count = 0;
    while (i < digits.size()) {
        int digit = 0;
        std::size_t width = 0;
        if (!is_digit_at(digits, i, digit, width) || ++count > 2) return 0;
        zone = zone * 10 + digit;
        i += width;
    }
    return zone >= 1 && zone <= kPlaneZoneCount ? zone : 0;
}

PlaneToGeographic::PlaneToGeographic(int zone) {
    const Origin& origin = kOrigins[zone - 1];
    const double phi0 = origin.latitude_degrees * kDegree;
    origin_longitude_ = (origin.longitude_degrees + origin.longitude_minutes / 60.0) * kDegree;
    const double factor = kScale * kSemiMajorAxis / (1.0 + kThirdFlattening);
    rectifying_radius_ = factor * kSeries.a[0];
    double arc = kSeries.a[0] * phi0;
    for (int j = 1; j <= 5; ++j) arc += kSeries.a[j] * std::sin(2.0 * j * phi0);
    origin_meridian_arc_ = factor * arc;
}

GeoPoint PlaneToGeographic::convert(double northing, double easting) const {
    const double xi = (northing + origin_meridian_arc_) / rectifying_radius_;
    const double eta = easting / rectifying_radius_;
    constexpr double kReach = 1.0e6;  // metres
    if (!(std::abs(easting) <= kReach && std::abs(xi) * rectifying_radius_ <= kQuarterMeridian - kReach)) {
        return {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
    }
    // The sums over sin(2jξ)cosh(2jη) and cos(2jξ)sinh(2jη) are the real and imaginary parts of
    // sin(2jζ), ζ = ξ + iη; the multiples come from sin(2ζ) and cos(2ζ) by the recurrence
    // sin((j+1)θ) = 2 cos θ sin(jθ) - sin((j-1)θ), so one sine, cosine and exponential serve all five.
    const std::complex<double> two_zeta(2.0 * xi, 2.0 * eta);
    const std::complex<double> sin_1 = std::sin(two_zeta);
    const std::complex<double> twice_cos = 2.0 * std::cos(two_zeta);
    std::complex<double> sin_j = sin_1;
    std::complex<double> sin_before(0.0, 0.0);
    std::complex<double> sum(0.0, 0.0);
    for (int j = 1; j <= 5; ++j) {
        sum += kSeries.beta[j] * sin_j;
        const std::complex<double> next = twice_cos * sin_j - sin_before;
        sin_before = sin_j;
        sin_j = next;
    }
    const double xi1 = xi - sum.real();
    const double eta1 = eta - sum.imag();
    const double chi = std::asin(std::sin(xi1) / std::cosh(eta1));
    // The same recurrence, real, for the sines of 2χ .. 12χ.
    const double twice_cos_chi = 2.0 * std::cos(2.0 * chi);
    double sine = std::sin(2.0 * chi);
    double sine_before = 0.0;
    double latitude = chi;
    for (int j = 1; j <= 6; ++j) {
        latitude += kSeries.delta[j] * sine;
        const double next = twice_cos_chi * sine - sine_before;
        sine_before = sine;
        sine = next;
    }
    const double longitude = origin_longitude_ + std::atan2(std::sinh(eta1), std::cos(xi1));
    return {longitude / kDegree, latitude / kDegree};
}

}  // namespace chizuvec
