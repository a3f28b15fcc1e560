#include "preview/pathgeometry.h"

#include "preview/literalinterpreter.h"
#include "preview/machineinterpreter.h"

#include <Qt3DRender/QAttribute>
#include <Qt3DRender/QBuffer>

#include <cfloat>
#include <cstring>
#include <memory>

PathGeometry::Extent PathGeometry::Extent::empty()
{
    return {FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
}

void PathGeometry::Extent::unite(const Extent &other)
{
    minX = std::min(minX, other.minX);
    minY = std::min(minY, other.minY);
    maxX = std::max(maxX, other.maxX);
    maxY = std::max(maxY, other.maxY);
}

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

bool PathGeometry::build(const QVector<GcodeLine> &lines, Interpretation interpretation)
{
    std::unique_ptr<ToolpathInterpreter> interpreter;
    if (interpretation == Interpretation::Machine)
        interpreter = std::make_unique<MachineInterpreter>();
    else
        interpreter = std::make_unique<LiteralInterpreter>();
    m_path = PathVertices(lines.size());
    for (const GcodeLine &line : lines)
        m_path.add(line, *interpreter);
    m_vertexBuffer->setData(m_path.bytes());
    m_positionAttribute->setCount(uint(vertexCount()));
    return false;
}

QVector<float> PathGeometry::vertices() const
{
    QVector<float> floats(vertexCount() * 3);
    std::memcpy(floats.data(), m_path.bytes().constData(), size_t(floats.size()) * sizeof(float));
    return floats;
}

PathGeometry::Extent PathGeometry::cutExtent() const
{
    Extent extent = Extent::empty();
    const QVector<float> &cuts = cutVertices();
    for (int i = 0; i + 2 < cuts.size(); i += 3) {
        const float x = cuts.at(i);
        const float y = -cuts.at(i + 2);
        extent.unite({x, y, x, y});
    }
    return extent;
}
