// The part of a segment inside an axis-aligned box (Liang and Barsky), shared by the clip of lines
// at the paper's margin and the test of a turned label against its parcel's edges.
#pragma once

#include <algorithm>

namespace chizuvec {

// For the segment from a along (dx, dy), with `q` the distances of a inside the box's left, right,
// top and bottom sides: narrows [enter, leave] (start them at 0 and 1) to the part inside the box;
// false when no part is.
inline bool clip_span(double dx, double dy, const double (&q)[4], double& enter, double& leave) {
    const double p[] = {-dx, dx, -dy, dy};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            enter = std::max(enter, t);
        } else {
            leave = std::min(leave, t);
        }
    }
    return enter <= leave;
}

}  // namespace chizuvec
