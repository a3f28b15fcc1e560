#include "tools/grblsim/arcpath.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr float AngularTravelEpsilon = 5e-7f;
constexpr int ArcCorrectionInterval = 12;
constexpr float Pi = 3.14159265358979323846f;
}

ArcPath::ArcPath(const Axes &start, const Axes &target, const Axes &centreOffset, double radius,
                 int axis0, int axis1, int linearAxis, bool clockwise, double tolerance)
{
    const float centre0 = float(start[axis0] + centreOffset[axis0]);
    const float centre1 = float(start[axis1] + centreOffset[axis1]);
    float r0 = float(-centreOffset[axis0]);
    float r1 = float(-centreOffset[axis1]);
    const float rt0 = float(target[axis0]) - centre0;
    const float rt1 = float(target[axis1]) - centre1;
    float travel = std::atan2(r0 * rt1 - r1 * rt0, r0 * rt0 + r1 * rt1);
    if (clockwise && travel >= -AngularTravelEpsilon)
        travel -= 2 * Pi;
    else if (!clockwise && travel <= AngularTravelEpsilon)
        travel += 2 * Pi;
    sweep = travel;

    const float r = float(radius), tol = float(tolerance);
    const float count = std::floor(std::fabs(0.5f * travel * r) / std::sqrt(tol * (2 * r - tol)));
    const int segments = count > 0.0f ? int(std::min(count, 65535.0f)) : 0;    // GRBL counts them in 16 bits
    if (segments > 0) {
        const float theta = travel / float(segments);
        const float linearStep = float(target[linearAxis] - start[linearAxis]) / float(segments);
        float cosT = 2.0f - theta * theta;
        const float sinT = theta * 0.16666667f * (cosT + 4.0f);
        cosT *= 0.5f;
        Axes point = start;
        int count = 0;
        for (int i = 1; i < segments; ++i) {
            if (count < ArcCorrectionInterval) {
                const float rotated = r0 * sinT + r1 * cosT;
                r0 = r0 * cosT - r1 * sinT;
                r1 = rotated;
                ++count;
            } else {
                const float cosI = std::cos(float(i) * theta), sinI = std::sin(float(i) * theta);
                r0 = float(-centreOffset[axis0]) * cosI + float(centreOffset[axis1]) * sinI;
                r1 = float(-centreOffset[axis0]) * sinI - float(centreOffset[axis1]) * cosI;
                count = 0;
            }
            point[axis0] = centre0 + r0;
            point[axis1] = centre1 + r1;
            point[linearAxis] = float(point[linearAxis]) + linearStep;
            points << point;
        }
    }
    points << target;
}
