#pragma once

#include <QString>
#include <QVector3D>
#include <QVector>

#include <functional>

class GcodeLine;
class ProbeGrid;

// Rewrites a layer's program so that its cutting moves follow the probed board surface. Every feed
// move (G1, also a modal continuation of one) is written as "G1 X.. Y.. Z.." with its Z raised or
// lowered by the measured height at its end point. A longer move, or one that leaves its grid cell,
// is cut where it crosses a cell border and into pieces of at most 5 mm, each compensated at its
// own end, so that the tool follows the surface along the whole move. Other lines go out as they
// are, without their comments; G64 lines are dropped.
class SurfaceFollower
{
public:
    static constexpr double longestPiece = 5.0;
    // What a cut needs when the program never started the spindle.
    static constexpr const char *spindleStart = "M3 S12000\n";

    using Sink = std::function<void(const QString &line)>;

    // Starts at (0, 0, 0) with no motion and the spindle off, as a stage does. xShift moves the whole
    // program along X (the turned-over bottom side).
    SurfaceFollower(const ProbeGrid &grid, Sink sink, float xShift = 0.0f);

    // A tool change stopped the spindle.
    void spindleStopped() { m_spindleOn = false; }
    // Writes one program line; compensated feed moves end with feedSuffix before the line end.
    void rewrite(const GcodeLine &line, const QString &feedSuffix = QString());

private:
    enum class Motion { None, Feed };

    QVector3D target(const GcodeLine &line) const;
    void writeFeedMove(const QVector3D &to, const QString &feedSuffix);
    void writePiece(const QVector3D &end, const QString &feedSuffix);
    void writeOwnText(const GcodeLine &line);

    const ProbeGrid &m_grid;
    Sink m_sink;
    float m_xShift;
    QVector3D m_lastPoint;
    Motion m_motion = Motion::None;
    bool m_spindleOn = false;
    QVector<double> m_cuts;
};
