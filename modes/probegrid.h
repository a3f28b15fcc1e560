#pragma once

#include <QList>
#include <QString>
#include <QVector3D>
#include <QVector>

#include <vector>

class SerialMessage;

// The board surface measured on a regular grid over the design before each pass of a PCB job: the
// grid's points in probing order, the probing messages that measure them, and the surface height
// anywhere on (or beside) the board, interpolated from the measured points.
//
// Coordinates are design coordinates (those of the server's G-code); the machine is at design
// position plus `origin`. Heights are machine Z as the probe reported them.
class ProbeGrid
{
public:
    ProbeGrid(float minX, float minY, float maxX, float maxY, const QVector3D &origin);

    // Spacing and number of steps along an axis of the given extent: the fewest steps of at most
    // 10 mm over the extent plus 0.01 mm, at most 10000.
    struct Spacing {
        float step;
        int steps;
    };
    static Spacing spacing(float extent);

    int columns() const { return m_columns; }
    int rows() const { return m_rows; }
    // Index in probing order (serpentine: even columns upward, odd columns downward); the column
    // and row are clamped to the grid.
    int pointIndex(int column, int row) const;
    int pointCount() const { return int(m_points.size()); }
    // A point in probing order, its z the measured height, 0 while not measured.
    QVector3D point(int index) const;
    QVector3D firstPoint() const { return point(0); }
    // Index of the first point the probe has not reported, -1 when every point is measured.
    int firstUnmeasured() const;

    // Builds the probing messages for side "top" or "bot". The last probe carries the side and
    // reports the finished scan; the list ends with a line that lifts the tool, a SignallingMessage
    // whose answer tells that the controller is past the whole scan. The caller hands them over in order.
    QList<SerialMessage *> probeMessages(const QString &side);

    // Measured surface height at a design position relative to the first point: the plane through
    // three corners of the grid cell, leaving out the corner farthest away. Outside the grid the
    // nearest edge cell's plane is extended.
    float heightOffset(float x, float y) const;

    // Where the straight move from (x0, y0) to (x1, y1) crosses the border between two grid cells,
    // as fractions of the move in (0, 1), unsorted.
    void cellCrossings(float x0, float y0, float x1, float y1, QVector<double> *fractions) const;

    // Height of the plane through a, b and c at (x, y). Corners on one line in XY span no plane: the
    // height of the corner nearest to (x, y) is the best estimate there.
    static double planeHeight(const QVector3D &a, const QVector3D &b, const QVector3D &c, double x, double y);

private:
    QVector3D corner(int column, int row) const;
    int cellColumn(float x) const;
    int cellRow(float y) const;

    // std::vector: the probe messages write through pointers into it, so it must never be shared
    // or moved after they are made.
    std::vector<QVector3D> m_points;
    QVector3D m_origin;
    int m_columns = 0;
    int m_rows = 0;
    float m_stepX = 0.0f;
    float m_stepY = 0.0f;
    float m_minX = 0.0f;
    float m_minY = 0.0f;
};
