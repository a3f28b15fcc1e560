#include "preview/literalinterpreter.h"

#include "toolpath/gcodeline.h"

#include <cmath>

namespace {
constexpr double TwoPi = 6.283185307179586;

// About ten chords per radian; G2 rounds up and adds one, G3 truncates.
int chordCount(double sweep, bool clockwise)
{
    return clockwise ? int(std::ceil(-10.0 * sweep)) + 1 : 1 - int(std::trunc(-10.0 * sweep));
}
} // namespace

void LiteralInterpreter::interpret(const GcodeLine &line, ToolMotion::Sink &sink)
{
    if (line.has(QLatin1Char('G'))) {
        const float g = line.value(QLatin1Char('G'));
        // Only the four motion words count; G4, G17, G21, G90, G92, G38.2 and the like are ignored.
        if (g > -1.0f && g < 4.0f) {
            m_motionMode = int(g);
            move(line, sink);
        }
        return;
    }
    const bool coordinates = line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z'));
    if (coordinates && m_motionMode >= 0)
        move(line, sink);
}

void LiteralInterpreter::move(const GcodeLine &line, ToolMotion::Sink &sink)
{
    ToolMotion motion;
    motion.start = m_position;
    updatePosition(line);
    motion.end = m_position;
    motion.kind = m_motionMode == 0 ? ToolMotion::Kind::Rapid : ToolMotion::Kind::Feed;
    if (m_motionMode >= 2)
        arc(line, motion);
    sink.move(motion);
}

void LiteralInterpreter::arc(const GcodeLine &line, ToolMotion &motion)
{
    const bool clockwise = m_motionMode == 2;
    const ToolMotion::Point &start = motion.start;
    const ToolMotion::Point &end = motion.end;
    motion.kind = ToolMotion::Kind::Arc;
    motion.flat = true;
    if (line.has(QLatin1Char('R'))) {
        motion.centreFromRadius(start[0], start[1], end[0], end[1], line.value(QLatin1Char('R')), clockwise);
    } else {
        const double i = line.value(QLatin1Char('I'));
        const double j = line.value(QLatin1Char('J'));
        const double k = line.value(QLatin1Char('K'));
        motion.centre0 = start[0] + i;
        motion.centre1 = start[1] + j;
        motion.radius = std::sqrt(i * i + j * j + k * k);
    }

    double startAngle = std::atan2(start[1] - motion.centre1, start[0] - motion.centre0);
    double sweep = std::atan2(end[1] - motion.centre1, end[0] - motion.centre0) - startAngle;
    if (clockwise && sweep > 0.0)
        sweep -= TwoPi;
    if (!clockwise && sweep < 0.0)
        sweep += TwoPi;
    if (startAngle < 0.0)
        startAngle += TwoPi;
    motion.startAngle = startAngle;
    motion.sweep = sweep;
    // Non-finite input (an infinite or NaN word) draws the end point only, and so does a zero sweep.
    const bool drawable = std::isfinite(sweep) && std::isfinite(motion.radius) && sweep != 0.0;
    motion.chords = drawable ? chordCount(sweep, clockwise) : 0;
}

void LiteralInterpreter::updatePosition(const GcodeLine &line)
{
    static const char axes[] = "XYZ";
    for (int axis = 0; axis < 3; ++axis) {
        if (line.has(QLatin1Char(axes[axis])))
            m_position[axis] = line.value(QLatin1Char(axes[axis]));
    }
}
