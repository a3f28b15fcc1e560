#include "preview/gcoderenderhelper.h"

#include "preview/moveableobject.h"
#include "preview/toolpathinterpreter.h"

#include <Qt3DCore/QEntity>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QPhongAlphaMaterial>
#include <Qt3DExtras/QPhongMaterial>
#include <Qt3DExtras/QPlaneMesh>
#include <Qt3DRender/QGeometryRenderer>

#include <cmath>
#include <memory>

namespace {
const QColor PathColour(255, 97, 48, 255);
const QColor ExecutedColour(30, 90, 230);
const QColor StockColour(216, 156, 23);

// A line strip has no normals: an ambient term equal to the diffuse colour keeps it from being drawn
// black by the lighting.
Qt3DExtras::QPhongMaterial *lineMaterial(const QColor &colour, Qt3DCore::QNode *parent = nullptr)
{
    auto *material = new Qt3DExtras::QPhongMaterial(parent);
    material->setDiffuse(colour);
    material->setSpecular(colour);
    material->setAmbient(colour);
    material->setShininess(1.0f);
    return material;
}
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
    m_executedRenderer = nullptr;
    m_renderers.clear();
    m_geometries.clear();
    m_entities.clear();
    m_lines.clear();
}

void Gcoderenderhelper::build(const QStringList &lines)
{
    clear();
    const std::unique_ptr<ToolpathInterpreter> interpreter = PathGeometry::interpreter(m_interpretation);
    PathVertices path(lines.size());
    m_lines.reserve(lines.size());
    for (const QString &text : lines) {
        // An empty line draws nothing but keeps its place in the numbering of the executed part.
        const GcodeLine line(text);
        path.add(line, *interpreter);
        if (!text.isEmpty())
            m_lines.append(line);
    }
    addPiece(std::move(path));
}

void Gcoderenderhelper::draw(PathVertices path)
{
    clear();
    addPiece(std::move(path));
}

void Gcoderenderhelper::addPiece(PathVertices path)
{
    m_pathMaterial = lineMaterial(PathColour);

    auto *entity = new MoveableObject;
    auto *renderer = new Qt3DRender::QGeometryRenderer(entity);
    auto *geometry = new PathGeometry(renderer);
    m_entities.append(entity);
    m_renderers.append(renderer);
    m_geometries.append(geometry);

    geometry->setPath(std::move(path));
    renderer->setVertexCount(geometry->vertexCount());
    renderer->setInstanceCount(1);
    renderer->setIndexOffset(0);
    renderer->setFirstInstance(0);
    renderer->setGeometry(geometry);
    renderer->setPrimitiveType(Qt3DRender::QGeometryRenderer::LineStrip);

    entity->addComponent(renderer);
    entity->addComponent(m_pathMaterial);
    entity->setTranslation(QVector3D());
    addExecutedPart(entity, geometry);
    entity->setParent(m_root.data());
}

// Nothing is executed yet: a single vertex draws nothing (a count of 0 would draw every vertex).
void Gcoderenderhelper::addExecutedPart(MoveableObject *piece, PathGeometry *geometry)
{
    auto *executed = new Qt3DCore::QEntity(piece);
    m_executedRenderer = new Qt3DRender::QGeometryRenderer(executed);
    m_executedRenderer->setGeometry(geometry);
    m_executedRenderer->setPrimitiveType(Qt3DRender::QGeometryRenderer::LineStrip);
    m_executedRenderer->setFirstVertex(0);
    m_executedRenderer->setVertexCount(1);
    executed->addComponent(m_executedRenderer);
    executed->addComponent(lineMaterial(ExecutedColour, executed));
}

void Gcoderenderhelper::setExecutedLine(qint64 programLine)
{
    if (!m_executedRenderer)
        return;
    const LineEndIndex &lineEnds = m_geometries.first()->lineEnds();
    const int lines = int(qBound<qint64>(0, programLine, lineEnds.size()));
    // The two parts share the vertex where they meet.
    const int executed = lines == 0 ? 1 : lineEnds.at(lines - 1);
    m_executedRenderer->setVertexCount(executed);
    m_renderers.first()->setFirstVertex(executed - 1);
    m_renderers.first()->setVertexCount(m_geometries.first()->vertexCount() - executed + 1);
}

Qt3DRender::QGeometryRenderer *Gcoderenderhelper::remainingPart() const
{
    return m_renderers.value(0);
}

Qt3DRender::QGeometryRenderer *Gcoderenderhelper::executedPart() const
{
    return m_executedRenderer;
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
