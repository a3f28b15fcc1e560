#pragma once

#include <QVector>

class GcodeLine;

// Follows the moves of a traced figure (G0, G1, G2, G3 with X, Y, Z and I, J, K or R) and records
// every point the cutter reaches, arcs broken into short chords of about (10 + r) per radian.
class GcodePathTracer
{
public:
    void trace(const GcodeLine &line);

    // x, y, z of every point reached, in order.
    const QVector<float> &vertices() const { return m_vertices; }

private:
    struct Point
    {
        float x, y, z;
    };

    void move(int motion, const GcodeLine &line);
    Point target(const GcodeLine &line);
    void lineTo(const Point &end);
    void arcTo(const GcodeLine &line, const Point &end, bool clockwise);
    void append(const Point &p);

    QVector<float> m_vertices;
    Point m_position{0.0f, 0.0f, 0.0f};
    Point m_programmed{0.0f, 0.0f, 0.0f};
    int m_motion = -1;
};
