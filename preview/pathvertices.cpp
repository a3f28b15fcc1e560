#include "preview/pathvertices.h"

#include "preview/toolpathinterpreter.h"
#include "toolpath/gcodeline.h"
#include "toolpath/gcodeprogram.h"

#include <algorithm>

PathVertices::PathVertices(int expectedLines)
{
    m_vertices.reserve(VertexBytes * (std::min(expectedLines, MostVertices) + 1));
    m_lineEnds.reserve(expectedLines);
    push({});
}

PathVertices PathVertices::traced(const GcodeProgram &program, ToolpathInterpreter &interpreter,
                                  const std::atomic<bool> &cancelled)
{
    PathVertices path(int(program.lineCount()));
    for (qint64 line = 0; line < program.lineCount() && !cancelled.load(std::memory_order_relaxed); ++line)
        path.add(GcodeLine(program.line(line)), interpreter);
    return path;
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
        m_cutExtent.add(end.x(), -end.z());
}

QVector3D PathVertices::push(const ToolMotion::Point &point)
{
    const QVector3D scene = toScene(QVector3D(float(point[0]), float(point[1]), float(point[2])));
    if (vertexCount() < MostVertices) {
        const float xyz[3] = {scene.x(), scene.y(), scene.z()};
        m_vertices.append(reinterpret_cast<const char *>(xyz), VertexBytes);
    }
    return scene;
}
