#ifndef CONTOUR_H
#define CONTOUR_H

#include <QPointF>
#include <QVector>

// A drawn path in mm made of straight and circular pieces, open or closed.
class Contour
{
public:
    struct Segment
    {
        QPointF start;
        QPointF end;
        bool arc = false;
        QPointF centre;
        bool counterClockwise = true;
    };

    // x' = m11 x + m12 y + dx, y' = m21 x + m22 y + dy
    struct Transform
    {
        double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
        QPointF map(QPointF p) const { return {m11 * p.x() + m12 * p.y() + dx, m21 * p.x() + m22 * p.y() + dy}; }
        Transform then(const Transform &next) const;
    };

    static Contour polyline(const QVector<QPointF> &points);
    // Where an empty contour begins.
    void moveTo(QPointF point) { origin = point; }
    void addLine(QPointF to);
    void addArc(QPointF centre, QPointF to, bool counterClockwise);
    // An arc through the bulge of a polyline vertex (tan of a quarter of the included angle).
    void addBulge(QPointF to, double bulge);

    bool isEmpty() const { return pieces.isEmpty(); }
    QPointF start() const { return pieces.isEmpty() ? origin : pieces.first().start; }
    QPointF end() const { return pieces.isEmpty() ? origin : pieces.last().end; }
    bool isClosed(double tolerance) const;
    const QVector<Segment> &segments() const { return pieces; }

    void reverse();
    void append(const Contour &next);
    Contour transformed(const Transform &t) const;
    // The contour as points (arcs flattened so they deviate by less than the tolerance).
    QVector<QPointF> points(double tolerance) const;

private:
    static QVector<QPointF> arcPoints(const Segment &arc, double tolerance);
    QVector<Segment> pieces;
    QPointF origin;
};

#endif
