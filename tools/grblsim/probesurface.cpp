#include "tools/grblsim/probesurface.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double Pi = 3.14159265358979323846;
constexpr double SampleStep = 0.1;         // mm along a move
constexpr double Tolerance = 1e-4;         // a tool this close counts as on the surface, not in it
}

double ProbeSurface::heightAt(double x, double y) const
{
    switch (m_kind) {
    case Kind::Flat:
        return m_z0;
    case Kind::Tilted:
        return m_z0 + 0.002 * x + 0.001 * y;
    case Kind::Bumpy:
        return m_z0 + 0.002 * x + 0.001 * y + 0.05 * std::sin(2 * Pi * x / 40.0) * std::sin(2 * Pi * y / 30.0);
    case Kind::Bowed:
        return m_z0 + bowAt(x, y);
    }
    return m_z0;
}

double ProbeSurface::bowAt(double x, double y) const
{
    const double u = (x - m_centreX) / (BoardWidth / 2);
    const double v = (y - m_centreY) / (BoardDepth / 2);
    if (std::fabs(u) >= 1.0 || std::fabs(v) >= 1.0)
        return 0.0;
    return m_sagitta * (1 - u * u) * (1 - v * v);
}

double ProbeSurface::clearance(const Axes &from, const Axes &to, double fraction) const
{
    const double x = from[0] + (to[0] - from[0]) * fraction;
    const double y = from[1] + (to[1] - from[1]) * fraction;
    const double z = from[2] + (to[2] - from[2]) * fraction;
    return z - heightAt(x, y);
}

bool ProbeSurface::touches(const Axes &point) const
{
    return point[2] <= heightAt(point[0], point[1]);
}

// Sampled every 0.1 mm of the way (and at least every 0.01 mm of height), then narrowed by bisection.
double ProbeSurface::changeFraction(const Axes &from, const Axes &to) const
{
    const bool startsTouching = clearance(from, to, 0.0) <= 0.0;
    const auto changed = [&](double fraction) { return (clearance(from, to, fraction) <= 0.0) != startsTouching; };
    const double length = std::hypot(to[0] - from[0], to[1] - from[1], to[2] - from[2]);
    const int samples = std::max(1, int(std::ceil(std::max(length / SampleStep, std::fabs(to[2] - from[2]) / 0.01))));
    double before = 0.0;
    for (int i = 1; i <= samples; ++i) {
        double after = double(i) / samples;
        if (!changed(after)) {
            before = after;
            continue;
        }
        for (int step = 0; step < 40; ++step) {
            const double middle = (before + after) / 2;
            (changed(middle) ? after : before) = middle;
        }
        return after;
    }
    return -1.0;
}

bool ProbeSurface::goesBelow(const Axes &from, const Axes &to) const
{
    const double length = std::hypot(to[0] - from[0], to[1] - from[1], to[2] - from[2]);
    const int samples = std::max(1, int(std::ceil(length / SampleStep)));
    for (int i = 0; i <= samples; ++i) {
        if (clearance(from, to, double(i) / samples) < -Tolerance)
            return true;
    }
    return false;
}
