#pragma once

#include <QVector>

#include <array>
#include <deque>

#include "preview/toolmotion.h"

// Times the motions of a program the way GRBL runs them: straight blocks (arcs cut into GRBL's own
// chords), each a trapezoid at the acceleration its axes allow ($120-$122) up to its feed or the
// axes' maximum rates ($110-$112); corners taken at the speed the junction deviation ($11) allows;
// and, as GRBL's planner holds only 15 blocks, every block slowing in time to stop at the end of the
// 14 behind it. Spindle, coolant and program words and dwells bring the machine to a stop. The time
// a host needs to send the lines is not counted.
class TravelTimePlanner : public ToolMotion::Sink
{
public:
    // GRBL's factory values.
    struct Limits
    {
        std::array<double, 3> maxRate{{500.0, 500.0, 500.0}};           // mm/min
        std::array<double, 3> acceleration{{10.0, 10.0, 10.0}};        // mm/s^2
        double junctionDeviation = 0.01;                                // mm
        double arcTolerance = 0.002;                                    // mm
    };
    static constexpr int Capacity = 15;

    // Times are kept per line, for `lines` lines.
    TravelTimePlanner(const Limits &limits, int lines);

    // The motions that follow belong to this line (0-based).
    void setLine(int line) { m_line = line; }
    void move(const ToolMotion &motion) override;
    void dwell(double seconds) override;
    void synchronise() override;

    // Runs out what is still planned and hands over the time spent on each line.
    QVector<float> finish();

private:
    using Vector = std::array<double, 3>;
    struct Block
    {
        Vector unit{};
        double length = 0.0;                // mm
        double nominal = 0.0;               // mm/s
        double acceleration = 0.0;          // mm/s^2
        double maxEntrySquared = 0.0;       // (mm/s)^2 at the corner into it
        int line = 0;
    };

    void addArc(const ToolMotion &motion);
    void addStraight(const ToolMotion::Point &from, const ToolMotion::Point &to, double feed);
    double limitByAxes(const Vector &unit, const std::array<double, 3> &perAxis) const;
    double junctionSquared(const Vector &unit) const;
    void runFront();

    Limits m_limits;
    std::deque<Block> m_blocks;
    Vector m_previousUnit{};
    double m_speed = 0.0;                   // entry speed of the front block, mm/s
    int m_line = 0;
    QVector<float> m_lineSeconds;
};
