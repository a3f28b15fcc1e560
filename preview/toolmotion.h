#pragma once

#include <array>

// One motion of the tool as an interpreter reads it from a program, in millimetres.
struct ToolMotion
{
    using Point = std::array<double, 3>;
    enum class Kind { Rapid, Feed, Arc };

    Kind kind = Kind::Feed;
    Point start{};
    Point end{};
    double feed = 0.0;              // mm/min; rapids run at the machine's own rate

    // Arcs: a circle in the plane of the axes axis0 and axis1 (0 X, 1 Y, 2 Z), swept from startAngle by
    // sweep radians (positive from axis0 towards axis1). The third axis moves in step with the angle,
    // a helix, unless the arc is flat: then it keeps its start value until the end point.
    int axis0 = 0;
    int axis1 = 1;
    double centre0 = 0.0;
    double centre1 = 0.0;
    double radius = 0.0;
    double startAngle = 0.0;
    double sweep = 0.0;
    int chords = 0;                 // points drawn on the arc before its end point, the first at startAngle
    bool flat = false;

    int linearAxis() const { return 3 - axis0 - axis1; }
    Point arcPoint(int chord) const;

    // Centre of an arc from `start` to `end` (in the arc's plane) given by its radius; sets centre0,
    // centre1 and radius.
    void centreFromRadius(double start0, double start1, double end0, double end1, double r, bool clockwise);

    // Receives what an interpreter reads, motion by motion.
    class Sink
    {
    public:
        virtual ~Sink() = default;
        virtual void move(const ToolMotion &motion) = 0;
        // The machine stands still for a while (G4) ...
        virtual void dwell(double) {}
        // ... or until every motion so far has ended (spindle, coolant and program words).
        virtual void synchronise() {}
    };
};
