#pragma once

#include <QVector>

#include "tools/grblsim/axes.h"

// An arc as GRBL moves it: a chain of chords whose end points lie on the arc, so short that the
// path never strays more than the arc tolerance ($12) from the circle. Worked out in single
// precision with the firmware's small-angle rotation and its exact correction every 12 chords.
struct ArcPath {
    ArcPath(const Axes &start, const Axes &target, const Axes &centreOffset, double radius,
            int axis0, int axis1, int linearAxis, bool clockwise, double tolerance);

    double sweep = 0.0;                 // radians, counter-clockwise positive, in the plane axis0 -> axis1
    QVector<Axes> points;               // chord end points; the last one is the target
};
