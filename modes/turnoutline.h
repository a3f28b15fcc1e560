#pragma once

#include <QList>
#include <QObject>
#include <QVector2D>
#include <QVector>

class PCBSerialMessage;

// The flip frame of a two-sided board: a closed channel milled with the outline cutter around the
// design, its sides stepping in and out by almost one cutter width in quarters, so that the board,
// turned over about the frame's middle, goes back into a defined place. It is cut 0.05 mm short of
// the board's thickness. Coordinates are design coordinates.
class TurnOutline : public QObject
{
    Q_OBJECT
public:
    // The frame is never narrower or lower than this, so that the board can be taken out and turned.
    static constexpr float smallestSide = 20.0f;

    TurnOutline(float minX, float minY, float maxX, float maxY, float cutterDiameter, QObject *parent = nullptr);

    // The frame rectangle around the design: the design's bounds grown by the cutter diameter plus
    // 0.2 mm on every side, widened symmetrically to at least 20 mm each way.
    float left() const { return m_x0; }
    float bottom() const { return m_y0; }
    float right() const { return m_x1; }
    float top() const { return m_y1; }
    // The tool path: four sides of nine points each, and the first point again.
    QVector<QVector2D> path() const { return m_path; }

    // The frame's lines for a total depth (negative), a feed rate and a depth per pass. The caller
    // owns the messages.
    QList<PCBSerialMessage *> messages(float depth, float feed, float depthPerPass) const;

private:
    void addVerticalSide(float x, float from, float to, float direction);
    void addUpperSide(float from, float to, float y);
    void addLowerSide(float from, float to, float y);

    QVector<QVector2D> m_path;
    float m_x0, m_y0, m_x1, m_y1;
    float m_offset;
    float m_halfWidth;
};
