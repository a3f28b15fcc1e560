#include "tools/grblsim/motionplanner.h"

#include <algorithm>
#include <cmath>

Axes MotionPlanner::Block::pointAt(double fraction) const
{
    Axes point{};
    if (!arc) {
        for (int axis = 0; axis < 3; ++axis)
            point[axis] = start[axis] + (end[axis] - start[axis]) * fraction;
        return point;
    }
    const double radius = std::hypot(start[0] - center[0], start[1] - center[1]);
    const double angle = std::atan2(start[1] - center[1], start[0] - center[0]) + sweep * fraction;
    point[0] = center[0] + radius * std::cos(angle);
    point[1] = center[1] + radius * std::sin(angle);
    point[2] = start[2] + (end[2] - start[2]) * fraction;
    if (fraction >= 1.0)
        point = end;
    return point;
}

double MotionPlanner::Block::length() const
{
    if (arc) {
        const double radius = std::hypot(start[0] - center[0], start[1] - center[1]);
        return std::hypot(radius * sweep, end[2] - start[2]);
    }
    return std::sqrt(std::pow(end[0] - start[0], 2) + std::pow(end[1] - start[1], 2)
                     + std::pow(end[2] - start[2], 2));
}

void MotionPlanner::append(Block block, qint64 nowUs)
{
    block.durationUs = block.feed > 0.0 ? qint64(block.length() / block.feed * 60e6 * m_timeScale) : 0;
    if (m_blocks.empty())
        m_blockStartUs = nowUs;
    m_blocks.push_back(block);
    advance(nowUs);
}

qint64 MotionPlanner::elapsedInBlock(qint64 nowUs) const
{
    return (m_held ? m_heldAtUs : nowUs) - m_blockStartUs;
}

void MotionPlanner::advance(qint64 nowUs)
{
    while (!m_blocks.empty() && elapsedInBlock(nowUs) >= m_blocks.front().durationUs) {
        m_blockStartUs += m_blocks.front().durationUs;
        m_rest = m_blocks.front().end;
        m_blocks.pop_front();
    }
}

void MotionPlanner::hold(qint64 nowUs)
{
    if (m_held)
        return;
    m_held = true;
    m_heldAtUs = nowUs;
}

void MotionPlanner::resume(qint64 nowUs)
{
    if (!m_held)
        return;
    m_held = false;
    m_blockStartUs += nowUs - m_heldAtUs;
    advance(nowUs);
}

void MotionPlanner::stop(qint64 nowUs)
{
    m_rest = position(nowUs);
    m_blocks.clear();
    m_held = false;
}

Axes MotionPlanner::position(qint64 nowUs) const
{
    if (m_blocks.empty())
        return m_rest;
    const Block &block = m_blocks.front();
    const double fraction = block.durationUs > 0
        ? std::clamp(double(elapsedInBlock(nowUs)) / double(block.durationUs), 0.0, 1.0) : 1.0;
    return block.pointAt(fraction);
}

qint64 MotionPlanner::nextEventUs() const
{
    if (m_blocks.empty() || m_held)
        return -1;
    return m_blockStartUs + m_blocks.front().durationUs;
}
