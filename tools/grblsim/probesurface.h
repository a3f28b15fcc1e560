#pragma once

#include "tools/grblsim/axes.h"

// The work surface under the tool: what the simulated probe touches and what a cut goes into.
// Heights are machine Z in millimetres at machine X, Y. Every kind passes through zAtOrigin at X0 Y0.
//   Flat:   level at zAtOrigin.
//   Tilted: a plane rising 0.2 mm per 100 mm in X and 0.1 mm per 100 mm in Y (a blank on an uneven bed).
//   Bumpy:  the tilted plane with a smooth ripple of +-0.05 mm (periods 40 mm in X, 30 mm in Y).
//   Bowed:  a 100 x 80 mm board whose edges lie at zAtOrigin and whose middle bulges up by the
//           sagitta, h = sagitta * (1 - u^2) * (1 - v^2) with u, v running from -1 to 1 across the
//           board; by default the board spans machine X 0..100, Y 0..80 (centred at X50 Y40),
//           and outside it the table is level at zAtOrigin.
class ProbeSurface
{
public:
    enum class Kind { Flat, Tilted, Bumpy, Bowed };

    // Bowed takes the rise of the board's middle and where that middle lies.
    ProbeSurface(Kind kind, double zAtOrigin, double sagitta = 0.2, double centreX = 50.0, double centreY = 40.0)
        : m_kind(kind), m_z0(zAtOrigin), m_sagitta(sagitta), m_centreX(centreX), m_centreY(centreY) {}

    double heightAt(double x, double y) const;

    bool touches(const Axes &point) const;     // at or below the surface
    // The first point on the way from `from` to `to` where touches() changes, as a fraction of the
    // way, or -1 when it never does.
    double changeFraction(const Axes &from, const Axes &to) const;
    // Whether the straight move from `from` to `to` dips below the surface anywhere (sampled every 0.1 mm).
    bool goesBelow(const Axes &from, const Axes &to) const;

private:
    double bowAt(double x, double y) const;
    double clearance(const Axes &from, const Axes &to, double fraction) const;

    static constexpr double BoardWidth = 100.0;
    static constexpr double BoardDepth = 80.0;

    Kind m_kind;
    double m_z0;
    double m_sagitta;
    double m_centreX;
    double m_centreY;
};
