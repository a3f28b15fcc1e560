#pragma once

#include "tools/grblsim/grblsimulator.h"

// The work surface the simulated probe touches, in machine coordinates.
class ProbeSurface
{
public:
    ProbeSurface(GrblSimulator::Surface kind, double zAtOrigin) : m_kind(kind), m_z0(zAtOrigin) {}

    double heightAt(double x, double y) const;

private:
    GrblSimulator::Surface m_kind;
    double m_z0;
};
