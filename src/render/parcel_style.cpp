#include "render/parcel_style.hpp"

#include "common/fixed_text.hpp"

namespace chizuvec {

int special_kind(std::string_view chiban, const RenderSettings& settings) {
    if (chiban.starts_with(field_view(settings.svg_chiban_sp1))) return 1;
    if (chiban.starts_with(field_view(settings.svg_chiban_sp2))) return 2;
    if (chiban.starts_with(field_view(settings.svg_chiban_sp3))) return 3;
    return 0;
}

std::string_view polygon_class(const Parcel& parcel, const RenderSettings& settings) {
    if (parcel.hilite != 0) return "ph";
    switch (special_kind(field_view(parcel.chiban), settings)) {
        case 1:
            return "p1";
        case 2:
            return "p2";
        case 3:
            return "p3";
        default:
            return "p0";
    }
}

int label_class(const Parcel& parcel, double scale, const RenderSettings& settings) {
    // Special parcels (roads, waterways, separate sheets) stay unlabelled unless asked for.
    if (parcel.hilite == 0 && special_kind(field_view(parcel.chiban), settings) != 0) return 0;
    const double drawn_area = parcel.area * (scale * scale);
    if (drawn_area > settings.svg_area_gt_c1) return 1;
    if (drawn_area > settings.svg_area_gt_c2 || parcel.hilite != 0) return 2;
    return 0;
}

}  // namespace chizuvec
