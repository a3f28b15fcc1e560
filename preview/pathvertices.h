#pragma once

#include <QByteArray>
#include <QVector3D>
#include <QVector>

#include "preview/lineendindex.h"
#include "preview/toolmotion.h"

class GcodeLine;
class ToolpathInterpreter;

// The vertices of a tool path drawn as one polyline, built line by line: the path starts at the scene
// origin, every motion adds its end point, an arc first its chords. Holds no scene objects, so a path
// can be built anywhere and handed to the geometry that shows it.
class PathVertices : public ToolMotion::Sink
{
public:
    // Room for about this many lines is reserved up front.
    explicit PathVertices(int expectedLines = 0);

    // Interprets one line and records the vertex count at its end.
    void add(const GcodeLine &line, ToolpathInterpreter &interpreter);
    void move(const ToolMotion &motion) override;

    // The G-code point (X, Y, Z) in the scene: (X, Z, -Y), one unit per millimetre.
    static QVector3D toScene(const QVector3D &gcode) { return QVector3D(gcode.x(), gcode.z(), -gcode.y()); }

    int vertexCount() const { return int(m_vertices.size() / VertexBytes); }
    // x, y, z of every vertex as floats, ready for a vertex buffer.
    const QByteArray &bytes() const { return m_vertices; }
    // The end points of the straight feed moves, for the extent of the cut.
    const QVector<float> &cutVertices() const { return m_cutVertices; }
    // Vertex count once each line added was drawn.
    const LineEndIndex &lineEnds() const { return m_lineEnds; }

private:
    static constexpr int VertexBytes = 3 * sizeof(float);
    QVector3D push(const ToolMotion::Point &point);

    QByteArray m_vertices;
    QVector<float> m_cutVertices;
    LineEndIndex m_lineEnds;
};
