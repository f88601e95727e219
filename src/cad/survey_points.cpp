#include "cad/cad_source.hpp"
#include "common/fixed_text.hpp"
#include "model/id_index.hpp"

namespace chizuvec {

SurveyPoints survey_points_of(const MapDataset& dataset) {
    SurveyPoints out;
    if (dataset.boundary_points.empty() && dataset.control_points.empty()) return out;
    // The first point of a number wins, as it does for the outlines.
    const IdIndex points = build_id_index(dataset.file_points());
    if (!dataset.boundary_points.empty()) {
        out.name_of.assign(dataset.points.size(), kNoRecord);
        for (std::uint32_t i = 0; i < dataset.boundary_points.size(); ++i) {
            const std::uint32_t at = points.find(dataset.boundary_points[i].point_no);
            if (at != kNoRecord && out.name_of[at] == kNoRecord) out.name_of[at] = i;
        }
    }
    out.control_at.reserve(dataset.control_points.size());
    for (const ControlPoint& point : dataset.control_points) out.control_at.push_back(points.find(point.point_no));
    return out;
}

std::string_view SurveyPoints::name(const MapDataset& dataset, std::uint32_t position) const {
    if (position >= name_of.size() || name_of[position] == kNoRecord) return {};
    return field_view(dataset.boundary_points[name_of[position]].name);
}

}  // namespace chizuvec
