#include "preview/pathvertices.h"

#include "preview/toolpathinterpreter.h"

PathVertices::PathVertices(int expectedLines)
{
    m_vertices.reserve(VertexBytes * (expectedLines + 1));
    m_lineEnds.reserve(expectedLines);
    push({});
}

void PathVertices::add(const GcodeLine &line, ToolpathInterpreter &interpreter)
{
    interpreter.interpret(line, *this);
    m_lineEnds.append(vertexCount());
}

void PathVertices::move(const ToolMotion &motion)
{
    for (int chord = 0; chord < motion.chords; ++chord)
        push(motion.arcPoint(chord));
    const QVector3D end = push(motion.end);
    if (motion.kind == ToolMotion::Kind::Feed)
        m_cutVertices << end.x() << end.y() << end.z();
}

QVector3D PathVertices::push(const ToolMotion::Point &point)
{
    const QVector3D scene = toScene(QVector3D(float(point[0]), float(point[1]), float(point[2])));
    const float xyz[3] = {scene.x(), scene.y(), scene.z()};
    m_vertices.append(reinterpret_cast<const char *>(xyz), VertexBytes);
    return scene;
}
