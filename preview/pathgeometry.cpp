#include "preview/pathgeometry.h"

#include "preview/literalinterpreter.h"
#include "preview/machineinterpreter.h"

#include <Qt3DRender/QAttribute>
#include <Qt3DRender/QBuffer>

#include <cstring>

PathGeometry::PathGeometry(Qt3DCore::QNode *parent)
    : Qt3DRender::QGeometry(parent)
    , m_positionAttribute(new Qt3DRender::QAttribute(this))
    , m_vertexBuffer(new Qt3DRender::QBuffer(this))
{
    // The buffer's role follows from the vertex attribute that reads it.
    m_positionAttribute->setName(Qt3DRender::QAttribute::defaultPositionAttributeName());
    m_positionAttribute->setVertexBaseType(Qt3DRender::QAttribute::Float);
    m_positionAttribute->setVertexSize(3);
    m_positionAttribute->setAttributeType(Qt3DRender::QAttribute::VertexAttribute);
    m_positionAttribute->setByteStride(0);
    m_positionAttribute->setBuffer(m_vertexBuffer);
    addAttribute(m_positionAttribute);
}

std::unique_ptr<ToolpathInterpreter> PathGeometry::interpreter(Interpretation interpretation)
{
    if (interpretation == Interpretation::Machine)
        return std::make_unique<MachineInterpreter>();
    return std::make_unique<LiteralInterpreter>();
}

bool PathGeometry::build(const QVector<GcodeLine> &lines, Interpretation interpretation)
{
    const std::unique_ptr<ToolpathInterpreter> reader = interpreter(interpretation);
    PathVertices path(lines.size());
    for (const GcodeLine &line : lines)
        path.add(line, *reader);
    setPath(std::move(path));
    return false;
}

void PathGeometry::setPath(PathVertices path)
{
    m_path = std::move(path);
    m_vertexBuffer->setData(m_path.bytes());
    m_positionAttribute->setCount(uint(vertexCount()));
}

QVector<float> PathGeometry::vertices() const
{
    QVector<float> floats(vertexCount() * 3);
    std::memcpy(floats.data(), m_path.bytes().constData(), size_t(floats.size()) * sizeof(float));
    return floats;
}
