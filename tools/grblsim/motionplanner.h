#pragma once

#include <QtGlobal>

#include <array>
#include <deque>

using Axes = std::array<double, 3>;

// The simulated motion: a queue of blocks (GRBL plans up to 15 ahead) executed one after another
// at their feed, stretched by the time scale. No acceleration is simulated.
class MotionPlanner
{
public:
    static constexpr int Capacity = 15;

    struct Block {
        Axes start{};
        Axes end{};
        double feed = 0.0;              // mm/min, already limited by the axes' maximum rates
        bool jog = false;
        bool arc = false;
        Axes center{};                  // arcs: centre in the XY plane
        double sweep = 0.0;             // arcs: signed angle, counter-clockwise positive
        qint64 durationUs = 0;
        Axes pointAt(double fraction) const;
        double length() const;
    };

    explicit MotionPlanner(double timeScale) : m_timeScale(timeScale) {}

    void setPosition(const Axes &position) { m_rest = position; }
    void append(Block block, qint64 nowUs);
    void advance(qint64 nowUs);         // retires the blocks finished by now
    void hold(qint64 nowUs);
    void resume(qint64 nowUs);
    void stop(qint64 nowUs);            // drops every block, the position stays where the tool is

    bool isEmpty() const { return m_blocks.empty(); }
    bool isFull() const { return int(m_blocks.size()) >= Capacity; }
    bool isJogging() const { return !m_blocks.empty() && m_blocks.front().jog; }
    int freeBlocks() const { return Capacity - int(m_blocks.size()); }
    double currentFeed() const { return m_blocks.empty() || m_held ? 0.0 : m_blocks.front().feed; }
    Axes position(qint64 nowUs) const;
    qint64 nextEventUs() const;         // when the current block ends, -1 when nothing runs

private:
    qint64 elapsedInBlock(qint64 nowUs) const;

    double m_timeScale;
    std::deque<Block> m_blocks;
    Axes m_rest{};
    qint64 m_blockStartUs = 0;
    bool m_held = false;
    qint64 m_heldAtUs = 0;
};
