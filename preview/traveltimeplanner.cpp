#include "preview/traveltimeplanner.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double MinimumRate = 1.0;             // mm/min
constexpr double MinimumAcceleration = 1e-3;    // mm/s^2
constexpr double ShortestBlock = 1e-6;          // mm
constexpr double StraightOnSquared = 1e38;
// An arc of absurd size would be cut into more chords than any machine runs; it is timed coarser.
constexpr double MostArcChords = 100000.0;

// Time to run `length` entering at v0 and leaving at v1, speeding up towards `nominal` at `a`.
double trapezoidSeconds(double length, double v0, double v1, double nominal, double a)
{
    const double peakSquared = (2.0 * a * length + v0 * v0 + v1 * v1) / 2.0;
    if (peakSquared <= nominal * nominal) {
        const double peak = std::sqrt(peakSquared);
        return (2.0 * peak - v0 - v1) / a;
    }
    const double ramps = (2.0 * nominal * nominal - v0 * v0 - v1 * v1) / (2.0 * a);
    return (2.0 * nominal - v0 - v1) / a + (length - ramps) / nominal;
}
} // namespace

TravelTimePlanner::TravelTimePlanner(const Limits &limits, int lines)
    : m_limits(limits)
    , m_lineSeconds(lines, 0.0f)
{
}

QVector<float> TravelTimePlanner::finish()
{
    synchronise();
    return std::move(m_lineSeconds);
}

void TravelTimePlanner::move(const ToolMotion &motion)
{
    if (motion.kind == ToolMotion::Kind::Arc)
        addArc(motion);
    else
        addStraight(motion.start, motion.end, motion.kind == ToolMotion::Kind::Rapid ? -1.0 : motion.feed);
}

void TravelTimePlanner::dwell(double seconds)
{
    synchronise();
    if (seconds > 0.0 && m_line < m_lineSeconds.size())
        m_lineSeconds[m_line] += float(seconds);
}

void TravelTimePlanner::synchronise()
{
    while (!m_blocks.empty())
        runFront();
}

// GRBL's chords: as many as keep each within the arc tolerance of the circle.
void TravelTimePlanner::addArc(const ToolMotion &motion)
{
    const double tolerance = m_limits.arcTolerance;
    const double reach = std::sqrt(tolerance * (2.0 * motion.radius - tolerance));
    double chords = reach > 0.0 ? std::floor(std::fabs(0.5 * motion.sweep * motion.radius) / reach) : 0.0;
    if (!(chords <= MostArcChords))
        chords = std::isfinite(motion.sweep * motion.radius) ? MostArcChords : 0.0;
    ToolMotion arc = motion;
    arc.chords = int(chords);
    arc.flat = false;
    ToolMotion::Point from = motion.start;
    for (int chord = 1; chord < arc.chords; ++chord) {
        const ToolMotion::Point to = arc.arcPoint(chord);
        addStraight(from, to, motion.feed);
        from = to;
    }
    addStraight(from, motion.end, motion.feed);
}

// A negative feed asks for the rapid rate.
void TravelTimePlanner::addStraight(const ToolMotion::Point &from, const ToolMotion::Point &to, double feed)
{
    Block block;
    for (int axis = 0; axis < 3; ++axis)
        block.unit[axis] = to[axis] - from[axis];
    block.length = std::hypot(block.unit[0], block.unit[1], block.unit[2]);
    if (!(block.length >= ShortestBlock) || !std::isfinite(block.length))
        return;
    for (double &component : block.unit)
        component /= block.length;
    const double rapid = limitByAxes(block.unit, m_limits.maxRate);
    block.nominal = std::max(MinimumRate, feed < 0.0 ? rapid : std::min(feed, rapid)) / 60.0;
    block.acceleration = std::max(MinimumAcceleration, limitByAxes(block.unit, m_limits.acceleration));
    const double previousNominal = m_blocks.empty() ? 0.0 : m_blocks.back().nominal;
    block.maxEntrySquared = std::min({junctionSquared(block.unit), block.nominal * block.nominal,
                                      previousNominal * previousNominal});
    block.line = m_line;
    m_previousUnit = block.unit;
    if (int(m_blocks.size()) == Capacity)
        runFront();
    m_blocks.push_back(block);
}

double TravelTimePlanner::limitByAxes(const Vector &unit, const std::array<double, 3> &perAxis) const
{
    double limit = std::numeric_limits<double>::infinity();
    for (int axis = 0; axis < 3; ++axis) {
        if (unit[axis] != 0.0)
            limit = std::min(limit, std::fabs(perAxis[axis] / unit[axis]));
    }
    return limit;
}

// The fastest a corner into a block along `unit` may be taken: a circle of the junction deviation's
// size fitted into the corner, driven at the acceleration the axes allow. A machine at rest starts
// from standstill.
double TravelTimePlanner::junctionSquared(const Vector &unit) const
{
    if (m_blocks.empty())
        return 0.0;
    double cosTheta = 0.0;
    Vector junction{};
    for (int axis = 0; axis < 3; ++axis) {
        cosTheta -= m_previousUnit[axis] * unit[axis];
        junction[axis] = unit[axis] - m_previousUnit[axis];
    }
    if (cosTheta > 0.999999)
        return 0.0;
    if (cosTheta < -0.999999)
        return StraightOnSquared;
    const double length = std::hypot(junction[0], junction[1], junction[2]);
    for (double &component : junction)
        component /= length;
    const double sinHalfTheta = std::sqrt(0.5 * (1.0 - cosTheta));
    return limitByAxes(junction, m_limits.acceleration) * m_limits.junctionDeviation * sinHalfTheta
           / (1.0 - sinHalfTheta);
}

// The front block runs from the speed it was entered at to the highest exit from which the blocks
// planned behind it can still stop at the end of the plan.
void TravelTimePlanner::runFront()
{
    double nextEntrySquared = 0.0;
    for (size_t i = m_blocks.size() - 1; i >= 1; --i) {
        const Block &block = m_blocks[i];
        nextEntrySquared = std::min(block.maxEntrySquared,
                                    nextEntrySquared + 2.0 * block.acceleration * block.length);
    }
    const Block &front = m_blocks.front();
    const double reachableSquared = m_speed * m_speed + 2.0 * front.acceleration * front.length;
    const double exit = std::sqrt(std::min(nextEntrySquared, reachableSquared));
    if (front.line < m_lineSeconds.size())
        m_lineSeconds[front.line] += float(trapezoidSeconds(front.length, m_speed, exit, front.nominal, front.acceleration));
    m_speed = exit;
    m_blocks.pop_front();
}
