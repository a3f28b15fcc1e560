#include "tools/grblsim/motionplanner.h"

#include "tools/grblsim/grblsettings.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double Epsilon = 1e-9;
constexpr double MinimumFeed = 1.0;             // mm/min
constexpr double Unlimited = std::numeric_limits<double>::infinity();
constexpr double StraightJunction = 1e38;
}

double MotionPlanner::Segment::duration() const
{
    const double sum = fromSpeed + toSpeed;
    return distance <= 0.0 || sum <= 0.0 ? 0.0 : 2.0 * distance / sum;
}

MotionPlanner::Segment MotionPlanner::Segment::upTo(double part) const
{
    const double acceleration = distance > 0.0 ? (toSpeed * toSpeed - fromSpeed * fromSpeed) / (2.0 * distance) : 0.0;
    return {part, fromSpeed, std::sqrt(std::max(0.0, fromSpeed * fromSpeed + 2.0 * acceleration * part))};
}

double MotionPlanner::limitByAxes(const Axes &unit, double (GrblSettings::*perAxis)(int) const) const
{
    double limit = Unlimited;
    for (int axis = 0; axis < 3; ++axis) {
        if (unit[axis] != 0.0)
            limit = std::min(limit, std::fabs((m_settings.*perAxis)(axis) / unit[axis]));
    }
    return limit;
}

// The fastest the corner from the previous block into one along `unit` may be taken: a circle of
// the junction deviation's size fitted into the corner, driven at the acceleration the axes allow.
double MotionPlanner::junctionSquared(const Axes &unit) const
{
    if (m_blocks.empty())
        return 0.0;
    double cosTheta = 0.0;
    Axes junction{};
    for (int axis = 0; axis < 3; ++axis) {
        cosTheta -= m_previousUnit[axis] * unit[axis];
        junction[axis] = unit[axis] - m_previousUnit[axis];
    }
    if (cosTheta > 0.999999)
        return 0.0;
    if (cosTheta < -0.999999)
        return StraightJunction;
    const double length = std::hypot(junction[0], junction[1], junction[2]);
    for (double &component : junction)
        component /= length;
    const double acceleration = limitByAxes(junction, &GrblSettings::acceleration);
    const double sinHalfTheta = std::sqrt(0.5 * (1.0 - cosTheta));
    return acceleration * m_settings.junctionDeviation() * sinHalfTheta / (1.0 - sinHalfTheta);
}

bool MotionPlanner::append(const SimulatedMotion &motion, double now, double contactDistance)
{
    Block block;
    block.motion = motion;
    for (int axis = 0; axis < 3; ++axis)
        block.unit[axis] = motion.end[axis] - motion.start[axis];
    block.length = std::hypot(block.unit[0], block.unit[1], block.unit[2]);
    if (block.length < 1e-6 || !std::isfinite(block.length))
        return false;
    for (double &component : block.unit)
        component /= block.length;
    block.acceleration = std::max(1e-3, limitByAxes(block.unit, &GrblSettings::acceleration));
    block.rapidRate = limitByAxes(block.unit, &GrblSettings::maxRate);
    if (motion.kind == SimulatedMotion::Kind::Rapid)
        block.motion.feed = block.rapidRate;
    block.contactDistance = contactDistance;
    const bool homing = motion.kind == SimulatedMotion::Kind::Homing;
    block.junctionSquared = homing ? 0.0 : junctionSquared(block.unit);
    if (!homing)
        m_previousUnit = block.unit;
    if (m_blocks.empty()) {
        m_progress = 0.0;
        m_speed = 0.0;
        if (!std::isinf(now))
            m_time = now;
    }
    m_blocks.push_back(block);
    recalculate();
    return true;
}

// Feed moves follow the feed override, rapids the rapid override; jogs, probing and homing run at
// their own rate. No move goes faster than its axes allow.
double MotionPlanner::nominalSpeed(const Block &block) const
{
    double rate = block.motion.feed;
    if (block.motion.kind == SimulatedMotion::Kind::Rapid) {
        rate = block.rapidRate * m_rapidOverride / 100.0;
    } else {
        if (block.motion.kind == SimulatedMotion::Kind::Feed)
            rate *= m_feedOverride / 100.0;
        rate = std::min(rate, block.rapidRate);
    }
    return std::max(rate, MinimumFeed) / 60.0;
}

// Every junction gets the highest entry speed from which the blocks behind it can still stop at
// the end of the plan (backwards) and which the blocks before it can reach (forwards, starting
// from where the machine is now).
void MotionPlanner::recalculate()
{
    const int count = int(m_blocks.size());
    double nextEntry = 0.0;
    for (int i = count - 1; i >= 1; --i) {
        Block &block = m_blocks[size_t(i)];
        const double previousNominal = nominalSpeed(m_blocks[size_t(i - 1)]);
        const double nominal = nominalSpeed(block);
        const double maxEntry = std::min({block.junctionSquared, nominal * nominal, previousNominal * previousNominal});
        block.entrySquared = std::min(maxEntry, nextEntry + 2.0 * block.acceleration * block.length);
        nextEntry = block.entrySquared;
    }
    if (count < 2)
        return;
    const Block &front = m_blocks.front();
    double reachable = m_speed * m_speed + 2.0 * front.acceleration * (front.length - m_progress);
    for (int i = 1; i < count; ++i) {
        Block &block = m_blocks[size_t(i)];
        block.entrySquared = std::min(block.entrySquared, reachable);
        reachable = block.entrySquared + 2.0 * block.acceleration * block.length;
    }
}

// The next stretch of the front block from the given state: speeding up towards the nominal speed
// (or slowing down to it after an override), cruising, then slowing down to the exit speed. While
// holding or cancelling, slowing down to a stop.
MotionPlanner::Segment MotionPlanner::nextSegment(double progress, double speed) const
{
    const Block &front = m_blocks.front();
    const double a = front.acceleration;
    const double remaining = std::max(0.0, front.length - progress);
    const double v2 = speed * speed;
    if (isDecelerating()) {
        const double distance = std::min(remaining, v2 / (2.0 * a));
        return {distance, speed, std::sqrt(std::max(0.0, v2 - 2.0 * a * distance))};
    }
    const double nominal = nominalSpeed(front);
    const double exit = m_blocks.size() > 1 ? std::min(nominal, std::sqrt(m_blocks[1].entrySquared)) : 0.0;
    const double stoppable = exit * exit + 2.0 * a * remaining;
    if (v2 > stoppable + Epsilon)
        return {remaining, speed, std::sqrt(std::max(0.0, v2 - 2.0 * a * remaining))};
    if (speed < nominal) {
        const double peak = std::min(nominal, std::sqrt((v2 + stoppable) / 2.0));
        const double distance = (peak * peak - v2) / (2.0 * a);
        if (distance > Epsilon)
            return {distance, speed, peak};
    } else if (speed > nominal) {
        const double distance = (v2 - nominal * nominal) / (2.0 * a);
        if (distance > Epsilon)
            return {std::min(distance, remaining), speed, nominal};
    }
    const double cruise = remaining - std::max(0.0, (v2 - exit * exit) / (2.0 * a));
    if (cruise > Epsilon)
        return {cruise, speed, speed};
    return {remaining, speed, std::sqrt(std::max(0.0, v2 - 2.0 * a * remaining))};
}

void MotionPlanner::advance(double now)
{
    const bool unbounded = std::isinf(now);
    while (!m_blocks.empty() && m_mode != Mode::Held) {
        if (isDecelerating() && m_speed <= Epsilon) {
            stopDecelerating();
            continue;
        }
        Block &front = m_blocks.front();
        Segment segment = nextSegment(m_progress, m_speed);
        const bool contact = front.contactDistance >= 0.0 && m_progress + segment.distance >= front.contactDistance;
        if (contact)
            segment = segment.upTo(std::max(0.0, front.contactDistance - m_progress));
        const double duration = segment.duration();
        if (!unbounded && m_time + duration > now) {
            moveWithin(segment, now - m_time);
            m_time = now;
            return;
        }
        if (!unbounded)
            m_time += duration;
        m_progress += segment.distance;
        m_speed = segment.toSpeed;
        if (contact) {
            front.contactDistance = -1.0;
            m_mode = Mode::Cancelling;
            if (m_contact)
                m_contact(position());
        } else if (m_progress >= front.length - Epsilon) {
            finishFront(true);
        }
    }
    if (!unbounded)
        m_time = now;
}

void MotionPlanner::moveWithin(const Segment &segment, double seconds)
{
    const double acceleration = segment.distance > 0.0
        ? (segment.toSpeed * segment.toSpeed - segment.fromSpeed * segment.fromSpeed) / (2.0 * segment.distance) : 0.0;
    const double travelled = segment.fromSpeed * seconds + 0.5 * acceleration * seconds * seconds;
    m_progress = std::min(m_blocks.front().length, m_progress + std::clamp(travelled, 0.0, segment.distance));
    m_speed = std::max(0.0, segment.fromSpeed + acceleration * seconds);
}

// A hold ends at rest with everything kept; a cancel drops the rest of what was planned.
void MotionPlanner::stopDecelerating()
{
    m_speed = 0.0;
    if (m_mode == Mode::Holding) {
        m_mode = Mode::Held;
        return;
    }
    m_mode = Mode::Running;
    stopHere();
}

void MotionPlanner::finishFront(bool completed)
{
    SimulatedMotion motion = m_blocks.front().motion;
    motion.completed = completed;
    if (!completed)
        motion.end = position();
    m_blocks.pop_front();
    m_rest = motion.end;
    m_progress = 0.0;
    if (m_blocks.empty())
        m_speed = 0.0;
    recalculate();
    if (m_finished)
        m_finished(motion);
}

void MotionPlanner::hold()
{
    if (!m_blocks.empty() && m_mode == Mode::Running)
        m_mode = Mode::Holding;
}

void MotionPlanner::resume()
{
    if (m_mode != Mode::Held)
        return;
    m_mode = Mode::Running;
    recalculate();
}

void MotionPlanner::cancel()
{
    if (m_blocks.empty())
        return;
    if (m_mode == Mode::Held || m_speed <= Epsilon) {
        m_mode = Mode::Running;
        stopHere();
    } else {
        m_mode = Mode::Cancelling;
    }
}

void MotionPlanner::stop()
{
    m_mode = Mode::Running;
    if (!m_blocks.empty())
        stopHere();
}

// The block in motion is recorded as far as it went; the ones behind it never ran.
void MotionPlanner::stopHere()
{
    m_speed = 0.0;
    if (m_progress > Epsilon)
        finishFront(false);
    else
        m_rest = position();
    m_blocks.clear();
    m_progress = 0.0;
}

void MotionPlanner::setOverrides(int feedPercent, int rapidPercent)
{
    m_feedOverride = feedPercent;
    m_rapidOverride = rapidPercent;
    recalculate();
}

Axes MotionPlanner::position() const
{
    if (m_blocks.empty())
        return m_rest;
    const Block &front = m_blocks.front();
    Axes point{};
    for (int axis = 0; axis < 3; ++axis)
        point[axis] = front.motion.start[axis] + front.unit[axis] * m_progress;
    return point;
}

double MotionPlanner::nextEventTime() const
{
    if (m_blocks.empty() || m_mode == Mode::Held)
        return -1.0;
    const Block &front = m_blocks.front();
    double time = m_time, progress = m_progress, speed = m_speed;
    for (int phase = 0; phase < 8; ++phase) {
        if (isDecelerating() && speed <= Epsilon)
            break;
        Segment segment = nextSegment(progress, speed);
        if (front.contactDistance >= 0.0 && progress + segment.distance >= front.contactDistance)
            return time + segment.upTo(std::max(0.0, front.contactDistance - progress)).duration();
        time += segment.duration();
        progress += segment.distance;
        speed = segment.toSpeed;
        if (progress >= front.length - Epsilon)
            break;
    }
    return time;
}
