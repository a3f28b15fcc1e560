#pragma once

#include "tools/grblsim/simulatedmotion.h"

#include <deque>
#include <functional>

class GrblSettings;

// The simulated motion, planned the way GRBL plans it: up to 15 straight blocks, each run as a
// trapezoid at the acceleration its axes allow ($120-$122), with the speed at each junction
// limited by the junction deviation ($11) and by what the blocks ahead leave room to stop in.
// Feed hold and cancel decelerate (across block ends if need be); a stop halts at once.
// Time is in simulated seconds; +infinity runs everything that can run to its end at once.
class MotionPlanner
{
public:
    static constexpr int Capacity = 15;
    using FinishedHandler = std::function<void(const SimulatedMotion &)>;
    using ContactHandler = std::function<void(const Axes &)>;

    explicit MotionPlanner(const GrblSettings &settings) : m_settings(settings) {}

    void setFinishedHandler(FinishedHandler handler) { m_finished = std::move(handler); }
    void setContactHandler(ContactHandler handler) { m_contact = std::move(handler); }

    // Returns false for a motion too short to make a step (GRBL drops it) or one beyond any number
    // (a coordinate that overflowed the controller's floats). A probing motion stops
    // (decelerating) once it has run contactDistance millimetres.
    bool append(const SimulatedMotion &motion, double now, double contactDistance = -1.0);
    void advance(double now);           // runs the motion up to now
    void hold();                        // decelerate to a stop and keep what is planned
    void resume();                      // after a completed hold
    void cancel();                      // decelerate to a stop, then drop what is planned
    void stop();                        // halt where the tool is and drop everything
    void setOverrides(int feedPercent, int rapidPercent);
    void setPosition(const Axes &position) { m_rest = position; }

    bool isEmpty() const { return m_blocks.empty(); }
    bool isFull() const { return int(m_blocks.size()) >= Capacity; }
    int freeBlocks() const { return Capacity - int(m_blocks.size()); }
    bool isJogging() const { return !m_blocks.empty() && m_blocks.front().motion.kind == SimulatedMotion::Kind::Jog; }
    bool isDecelerating() const { return m_mode == Mode::Holding || m_mode == Mode::Cancelling; }
    bool isHeld() const { return m_mode == Mode::Held; }
    Axes position() const;
    double speed() const { return m_speed * 60.0; }   // mm/min
    double nextEventTime() const;       // when a block ends or the motion stops; -1: nothing pending

private:
    enum class Mode { Running, Holding, Held, Cancelling };

    struct Block {
        SimulatedMotion motion;
        Axes unit{};
        double length = 0.0;            // mm
        double acceleration = 0.0;      // mm/s^2
        double rapidRate = 0.0;         // mm/min
        double junctionSquared = 0.0;   // (mm/s)^2 allowed at the corner into this block
        double entrySquared = 0.0;
        double contactDistance = -1.0;
    };

    // A stretch of constant acceleration within the front block.
    struct Segment {
        double distance;
        double fromSpeed;
        double toSpeed;
        double duration() const;
        Segment upTo(double part) const;    // the first `part` millimetres of it
    };

    double limitByAxes(const Axes &unit, double (GrblSettings::*perAxis)(int) const) const;
    double junctionSquared(const Axes &unit) const;
    double nominalSpeed(const Block &block) const;    // mm/s
    void recalculate();
    Segment nextSegment(double progress, double speed) const;
    void moveWithin(const Segment &segment, double seconds);
    void stopDecelerating();
    void stopHere();
    void finishFront(bool completed);

    const GrblSettings &m_settings;
    FinishedHandler m_finished;
    ContactHandler m_contact;
    std::deque<Block> m_blocks;
    Axes m_rest{};                      // the position when nothing moves
    Axes m_previousUnit{};
    Mode m_mode = Mode::Running;
    double m_time = 0.0;                // simulated time of the state below
    double m_progress = 0.0;            // mm into the front block
    double m_speed = 0.0;               // mm/s
    int m_feedOverride = 100;
    int m_rapidOverride = 100;
};
