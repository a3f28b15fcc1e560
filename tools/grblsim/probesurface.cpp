#include "tools/grblsim/probesurface.h"

#include <cmath>

// Tilted: a plane rising 0.2 mm per 100 mm in X and 0.1 mm per 100 mm in Y, like a blank on an
// uneven bed. Bumpy: that plane with a smooth ripple of ±0.05 mm (periods 40 mm in X, 30 mm in Y),
// like a warped copper board. All surfaces pass through zAtOrigin at X0 Y0.
double ProbeSurface::heightAt(double x, double y) const
{
    constexpr double Pi = 3.14159265358979323846;
    switch (m_kind) {
    case GrblSimulator::Surface::Flat:
        return m_z0;
    case GrblSimulator::Surface::Tilted:
        return m_z0 + 0.002 * x + 0.001 * y;
    case GrblSimulator::Surface::Bumpy:
        return m_z0 + 0.002 * x + 0.001 * y + 0.05 * std::sin(2 * Pi * x / 40.0) * std::sin(2 * Pi * y / 30.0);
    }
    return m_z0;
}
