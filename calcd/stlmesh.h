#ifndef STLMESH_H
#define STLMESH_H

#include <QByteArray>
#include <QVector>

#include <array>

// The triangles of an STL file, ASCII or binary. A file is binary when its size matches the
// triangle count in its header, whatever its first bytes say ("solid" included).
class StlMesh
{
public:
    struct Point
    {
        double x, y, z;
    };
    using Triangle = std::array<Point, 3>;

    // False when the bytes are no STL file with at least one triangle and finite coordinates.
    bool read(const QByteArray &bytes);
    const QVector<Triangle> &triangles() const { return faces; }
    // Moves the mesh so that its lowest x and y are 0 and its top is at z 0.
    void placeTopAtZero();

    Point minimum() const;
    Point maximum() const;

private:
    bool readBinary(const QByteArray &bytes);
    bool readAscii(const QByteArray &bytes);

    QVector<Triangle> faces;
};

#endif
