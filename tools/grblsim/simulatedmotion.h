#pragma once

#include <QString>

#include "tools/grblsim/axes.h"

// One executed motion of the simulated machine, as its steppers made it. Arcs appear as the chords
// GRBL plans them as (every chord end lies on the arc); each chord carries the arc it belongs to.
struct SimulatedMotion {
    enum class Kind { Rapid, Feed, Jog, Probe, Homing };

    Kind kind = Kind::Feed;
    Axes start{};                       // machine coordinates, mm, on the step grid
    Axes end{};                         // where the motion stopped
    bool completed = true;              // false: cut short (probe contact, jog cancel, reset, alarm)
    double feed = 0.0;                  // programmed rate in mm/min; rapids: the axes' maximum rate
    int spindle = 5;                    // 3, 4 or 5 as set by M3, M4, M5
    double spindleSpeed = 0.0;          // programmed S
    bool arc = false;                   // a chord of a G2/G3:
    Axes arcCentre{};                   //   centre of its circle (machine coordinates)
    double arcSweep = 0.0;              //   the whole arc's angle in radians, counter-clockwise positive
    int arcPlane = 17;                  //   17, 18 or 19 as G17/G18/G19
    QString line;                       // the received line that planned it ("" for homing)
    bool cutWithSpindleStopped = false; // a feed move that went below the surface with the spindle stopped
};
