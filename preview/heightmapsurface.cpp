#include "preview/heightmapsurface.h"

#include <Qt3DCore/QEntity>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QPerVertexColorMaterial>
#include <Qt3DRender/QAttribute>
#include <Qt3DRender/QBuffer>
#include <Qt3DRender/QGeometry>
#include <Qt3DRender/QGeometryRenderer>

#include <algorithm>

namespace {
// Just above the board's top, so the board does not hide it.
constexpr float lift = 0.05f;

Qt3DRender::QAttribute *floatAttribute(Qt3DRender::QGeometry *geometry, const QString &name,
                                       const QVector<float> &values)
{
    auto *buffer = new Qt3DRender::QBuffer(geometry);
    buffer->setData(QByteArray(reinterpret_cast<const char *>(values.constData()), int(values.size() * sizeof(float))));
    auto *attribute = new Qt3DRender::QAttribute(buffer, name, Qt3DRender::QAttribute::Float, 3, uint(values.size() / 3));
    attribute->setAttributeType(Qt3DRender::QAttribute::VertexAttribute);
    geometry->addAttribute(attribute);
    return attribute;
}

Qt3DRender::QAttribute *indexAttribute(Qt3DRender::QGeometry *geometry, const QVector<quint32> &indices)
{
    auto *buffer = new Qt3DRender::QBuffer(geometry);
    buffer->setData(QByteArray(reinterpret_cast<const char *>(indices.constData()), int(indices.size() * sizeof(quint32))));
    auto *attribute = new Qt3DRender::QAttribute(geometry);
    attribute->setAttributeType(Qt3DRender::QAttribute::IndexAttribute);
    attribute->setVertexBaseType(Qt3DRender::QAttribute::UnsignedInt);
    attribute->setBuffer(buffer);
    attribute->setCount(uint(indices.size()));
    geometry->addAttribute(attribute);
    return attribute;
}

// Two triangles per cell of the grid, whose points are stored column by column.
QVector<quint32> cellTriangles(int columns, int rows)
{
    QVector<quint32> indices;
    for (int column = 0; column + 1 < columns; ++column) {
        for (int row = 0; row + 1 < rows; ++row) {
            const quint32 a = quint32(column * rows + row);
            const quint32 b = a + quint32(rows);
            indices << a << b << a + 1 << a + 1 << b << b + 1;
        }
    }
    return indices;
}
} // namespace

HeightMapSurface::HeightMapSurface(QObject *parent)
    : QObject(parent)
{
}

HeightMapSurface::~HeightMapSurface()
{
    clear();
}

void HeightMapSurface::setRoot(Qt3DCore::QEntity *root)
{
    m_root = root;
}

std::pair<float, float> HeightMapSurface::range(const QVector<QVector3D> &points)
{
    if (points.isEmpty())
        return {0.0f, 0.0f};
    const auto [low, high] = std::minmax_element(points.cbegin(), points.cend(), [](const QVector3D &a, const QVector3D &b) {
        return a.z() < b.z();
    });
    return {low->z(), high->z()};
}

QColor HeightMapSurface::colourOf(float height, float lowest, float highest)
{
    const float share = highest > lowest ? std::clamp((height - lowest) / (highest - lowest), 0.0f, 1.0f) : 0.5f;
    return QColor::fromHsvF(qreal(2.0f / 3.0f * (1.0f - share)), 1.0, 1.0);
}

void HeightMapSurface::build(const QVector<QVector3D> &points, int columns, int rows, const QVector3D &translation)
{
    clear();
    if (!m_root || columns < 2 || rows < 2 || points.size() != columns * rows)
        return;
    const auto [lowest, highest] = range(points);
    QVector<float> positions;
    QVector<float> normals;
    for (const QVector3D &p : points) {
        positions << p.x() << lift << -p.y();
        normals << 0.0f << 1.0f << 0.0f;
        const QColor colour = colourOf(p.z(), lowest, highest);
        m_colours << float(colour.redF()) << float(colour.greenF()) << float(colour.blueF());
    }
    m_entity = new Qt3DCore::QEntity(m_root);
    auto *geometry = new Qt3DRender::QGeometry(m_entity);
    floatAttribute(geometry, Qt3DRender::QAttribute::defaultPositionAttributeName(), positions);
    floatAttribute(geometry, Qt3DRender::QAttribute::defaultNormalAttributeName(), normals);
    floatAttribute(geometry, Qt3DRender::QAttribute::defaultColorAttributeName(), m_colours);
    const QVector<quint32> indices = cellTriangles(columns, rows);
    indexAttribute(geometry, indices);
    auto *renderer = new Qt3DRender::QGeometryRenderer(m_entity);
    renderer->setGeometry(geometry);
    renderer->setPrimitiveType(Qt3DRender::QGeometryRenderer::Triangles);
    renderer->setVertexCount(indices.size());
    auto *transform = new Qt3DCore::QTransform(m_entity);
    transform->setTranslation(translation);
    m_entity->addComponent(renderer);
    m_entity->addComponent(new Qt3DExtras::QPerVertexColorMaterial(m_entity));
    m_entity->addComponent(transform);
    m_entity->setEnabled(m_shown);
}

void HeightMapSurface::clear()
{
    m_colours.clear();
    if (m_entity) {
        m_entity->setEnabled(false);
        m_entity->deleteLater();
    }
    m_entity = nullptr;
}

void HeightMapSurface::show()
{
    m_shown = true;
    if (m_entity)
        m_entity->setEnabled(true);
}

void HeightMapSurface::hide()
{
    m_shown = false;
    if (m_entity)
        m_entity->setEnabled(false);
}
