#pragma once

#include <QByteArray>
#include <QVector3D>

#include <atomic>

#include "preview/lineendindex.h"
#include "preview/pathextent.h"
#include "preview/toolmotion.h"

class GcodeLine;
class GcodeProgram;
class ToolpathInterpreter;

// The vertices of a tool path drawn as one polyline, built line by line: the path starts at the scene
// origin, every motion adds its end point, an arc first its chords. Holds no scene objects, so a path
// can be built on any thread and handed to the geometry that shows it.
class PathVertices : public ToolMotion::Sink
{
public:
    // 400 MB of vertices, a carving program of over thirty million lines; one that would need more is
    // drawn as far as they reach, so no program can exhaust the memory.
    static constexpr int MostVertices = 1 << 25;

    // Room for about this many lines is reserved up front.
    explicit PathVertices(int expectedLines = 0);

    // Every line of the program as `interpreter` reads it. Gives up as soon as `cancelled` is set, the
    // path then ending early.
    static PathVertices traced(const GcodeProgram &program, ToolpathInterpreter &interpreter,
                               const std::atomic<bool> &cancelled);

    // Interprets one line and records the vertex count at its end.
    void add(const GcodeLine &line, ToolpathInterpreter &interpreter);
    void move(const ToolMotion &motion) override;

    // The G-code point (X, Y, Z) in the scene: (X, Z, -Y), one unit per millimetre.
    static QVector3D toScene(const QVector3D &gcode) { return QVector3D(gcode.x(), gcode.z(), -gcode.y()); }

    int vertexCount() const { return int(m_vertices.size() / VertexBytes); }
    // x, y, z of every vertex as floats, ready for a vertex buffer.
    const QByteArray &bytes() const { return m_vertices; }
    // Where the straight feed moves end, for the area of the cut.
    const PathExtent &cutExtent() const { return m_cutExtent; }
    // Vertex count once each line added was drawn.
    const LineEndIndex &lineEnds() const { return m_lineEnds; }

private:
    static constexpr int VertexBytes = 3 * sizeof(float);
    QVector3D push(const ToolMotion::Point &point);

    QByteArray m_vertices;
    PathExtent m_cutExtent = PathExtent::empty();
    LineEndIndex m_lineEnds;
};
