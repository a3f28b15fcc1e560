#include "preview/gcoderenderhelper.h"

#include "preview/moveableobject.h"

#include <Qt3DCore/QEntity>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QPhongAlphaMaterial>
#include <Qt3DExtras/QPhongMaterial>
#include <Qt3DExtras/QPlaneMesh>
#include <Qt3DRender/QGeometryRenderer>

#include <cmath>

namespace {
const QColor PathColour(255, 97, 48, 255);
const QColor StockColour(216, 156, 23);
}

Gcoderenderhelper::Gcoderenderhelper(QObject *parent)
    : QObject(parent)
{
}

Gcoderenderhelper::~Gcoderenderhelper()
{
    clear();
}

void Gcoderenderhelper::setRoot(Qt3DCore::QEntity *root)
{
    m_root = root;
}

void Gcoderenderhelper::clear()
{
    setEnabled(false);
    removeStockPlate();
    // Releasing a piece's entity releases its renderer, geometry and the path material with it.
    for (const auto &entity : qAsConst(m_entities)) {
        if (entity)
            entity->deleteLater();
    }
    m_pathMaterial = nullptr;
    m_renderers.clear();
    m_geometries.clear();
    m_entities.clear();
    m_lines.clear();
}

void Gcoderenderhelper::build(const QStringList &lines)
{
    clear();
    m_lines.reserve(lines.size());
    for (const QString &line : lines) {
        if (!line.isEmpty())
            m_lines.append(GcodeLine(line));
    }

    // The path has no normals: an ambient term equal to the diffuse colour keeps it from being drawn
    // black by the lighting.
    m_pathMaterial = new Qt3DExtras::QPhongMaterial;
    m_pathMaterial->setDiffuse(PathColour);
    m_pathMaterial->setSpecular(PathColour);
    m_pathMaterial->setAmbient(PathColour);
    m_pathMaterial->setShininess(1.0f);

    auto *entity = new MoveableObject;
    auto *renderer = new Qt3DRender::QGeometryRenderer(entity);
    auto *geometry = new PathGeometry(renderer);
    m_entities.append(entity);
    m_renderers.append(renderer);
    m_geometries.append(geometry);

    geometry->build(m_lines);
    renderer->setVertexCount(geometry->vertexCount());
    renderer->setInstanceCount(1);
    renderer->setIndexOffset(0);
    renderer->setFirstInstance(0);
    renderer->setGeometry(geometry);
    renderer->setPrimitiveType(Qt3DRender::QGeometryRenderer::LineStrip);

    entity->addComponent(renderer);
    entity->addComponent(m_pathMaterial);
    entity->setTranslation(QVector3D());
    entity->setParent(m_root.data());
}

void Gcoderenderhelper::buildWithStock(const QStringList &lines)
{
    build(lines);
    setStockPlate(extent());
}

void Gcoderenderhelper::setStockPlate(const PathGeometry::Extent &area)
{
    removeStockPlate();
    // Without feed moves there is no area to mark, so no plate is shown.
    if (m_entities.isEmpty() || !m_entities.first() || area.isEmpty())
        return;
    const float width = std::fabs(area.maxX - area.minX);
    const float height = std::fabs(area.maxY - area.minY);

    m_stockEntity = new Qt3DCore::QEntity(m_entities.first());
    m_stockMesh = new Qt3DExtras::QPlaneMesh(m_stockEntity);
    m_stockMesh->setWidth(width);
    m_stockMesh->setHeight(height);
    m_stockTransform = new Qt3DCore::QTransform(m_stockEntity);
    m_stockTransform->setScale(1.0f);
    m_stockTransform->setTranslation(QVector3D(area.minX + width / 2, -0.1f, -area.minY - height / 2));
    m_stockMaterial = new Qt3DExtras::QPhongAlphaMaterial(m_stockEntity);
    m_stockMaterial->setDiffuse(StockColour);
    m_stockMaterial->setSpecular(StockColour);
    m_stockMaterial->setShininess(5.0f);
    m_stockMaterial->setAlpha(0.6f);
    m_stockEntity->addComponent(m_stockMesh);
    m_stockEntity->addComponent(m_stockTransform);
    m_stockEntity->addComponent(m_stockMaterial);
}

void Gcoderenderhelper::removeStockPlate()
{
    // The mesh, transform and material are children of the plate's entity and go with it.
    if (m_stockEntity) {
        m_stockEntity->setEnabled(false);
        m_stockEntity->deleteLater();
    }
    m_stockEntity = nullptr;
    m_stockMesh = nullptr;
    m_stockTransform = nullptr;
    m_stockMaterial = nullptr;
}

void Gcoderenderhelper::show()
{
    setEnabled(true);
}

void Gcoderenderhelper::hide()
{
    setEnabled(false);
}

void Gcoderenderhelper::setEnabled(bool enabled)
{
    for (const auto &entity : qAsConst(m_entities)) {
        if (entity)
            entity->setEnabled(enabled);
    }
    if (m_stockEntity)
        m_stockEntity->setEnabled(enabled);
}

void Gcoderenderhelper::setTranslation(const QVector3D &translation)
{
    for (const auto &entity : qAsConst(m_entities)) {
        if (entity)
            entity->setTranslation(translation);
    }
}

void Gcoderenderhelper::moveBy(const QVector3D &delta)
{
    const QVector3D first = translation();
    setTranslation(QVector3D(first.x() + delta.x(), delta.y(), first.z() + delta.z()));
}

QVector3D Gcoderenderhelper::translation() const
{
    return m_entities.isEmpty() || !m_entities.first() ? QVector3D() : m_entities.first()->translation();
}

PathGeometry::Extent Gcoderenderhelper::extent() const
{
    PathGeometry::Extent result = PathGeometry::Extent::empty();
    for (int piece = 0; piece < m_geometries.size(); ++piece) {
        if (m_entities.at(piece))
            result.unite(m_geometries.at(piece)->cutExtent());
    }
    return result;
}
