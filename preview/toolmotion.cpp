#include "preview/toolmotion.h"

#include <algorithm>
#include <cmath>

ToolMotion::Point ToolMotion::arcPoint(int chord) const
{
    const double angle = startAngle + chord * (sweep / chords);
    Point point = start;
    point[axis0] = centre0 + radius * std::cos(angle);
    point[axis1] = centre1 + radius * std::sin(angle);
    if (!flat) {
        const int axis = linearAxis();
        point[axis] += (end[axis] - start[axis]) * chord / chords;
    }
    return point;
}

// On the chord's perpendicular bisector, to the right of the direction of travel for a clockwise arc
// and to the left for a counter-clockwise one, as GRBL does. A negative radius asks for the arc longer
// than a half circle and takes the other centre. A radius too short for the chord is stretched to half
// the chord (a half circle) rather than rejected, so a slightly inexact program still draws close to
// what the machine would cut.
void ToolMotion::centreFromRadius(double start0, double start1, double end0, double end1, double r, bool clockwise)
{
    const double d0 = end0 - start0;
    const double d1 = end1 - start1;
    const double chord = std::hypot(d0, d1);
    centre0 = start0;
    centre1 = start1;
    radius = std::fabs(r);
    if (!(chord > 0.0))
        return;
    const double half = chord / 2.0;
    const double height = std::sqrt(std::max(0.0, r * r - half * half));
    const double side = (clockwise ? 1.0 : -1.0) * (r < 0.0 ? -1.0 : 1.0);
    centre0 = start0 + d0 / 2.0 + side * height * d1 / chord;
    centre1 = start1 + d1 / 2.0 - side * height * d0 / chord;
    radius = std::hypot(half, height);
}
