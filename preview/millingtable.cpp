#include "preview/millingtable.h"

#include <Qt3DCore/QEntity>
#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QCuboidMesh>
#include <Qt3DExtras/QCylinderMesh>
#include <Qt3DExtras/QPhongAlphaMaterial>
#include <Qt3DExtras/QPhongMaterial>
#include <Qt3DRender/QMesh>

#include <cmath>

namespace {
const QColor BoardColour(130, 97, 48);
const QColor ProbeColour(216, 156, 23);
const QColor MaterialColour(244, 223, 66);
constexpr float DefaultTableX = 300.0f;
constexpr float DefaultTableY = 480.0f;
constexpr float DefaultGrid = 25.0f;
// Bars closer than their own width, or more than this many, would no longer read as a grid.
constexpr float MinimumGridSpacing = 1.0f;
constexpr int MaximumGridBars = 2000;

template<typename Material>
Material *phong(const QColor &diffuse, const QColor &specular, float shininess)
{
    auto *material = new Material;
    material->setDiffuse(diffuse);
    material->setSpecular(specular);
    material->setShininess(shininess);
    return material;
}

float sign(float value)
{
    return value > 0.0f ? 1.0f : (value < 0.0f ? -1.0f : 0.0f);
}

int innerBarCount(float tableLength, float spacing)
{
    if (!(spacing >= MinimumGridSpacing) || !std::isfinite(tableLength))
        return 0;
    const double bars = std::ceil(std::fabs(tableLength) / spacing) - 1.0;
    return bars > MaximumGridBars ? 0 : std::max(0, int(bars));
}
} // namespace

MillingTable::MillingTable(QObject *parent)
    : QObject(parent)
{
}

Qt3DCore::QEntity *MillingTable::addEntity(Qt3DCore::QEntity *parent, Qt3DCore::QComponent *mesh,
                                           Qt3DRender::QMaterial *material, Qt3DCore::QTransform *transform)
{
    auto *entity = new Qt3DCore::QEntity(parent);
    entity->addComponent(mesh);
    entity->addComponent(material);
    entity->addComponent(transform);
    return entity;
}

void MillingTable::buildScene(Qt3DCore::QEntity *root)
{
    m_root = root;
    buildProbe();
    buildTablePlate();
    rebuildGrid(DefaultTableX, DefaultTableY, DefaultGrid, DefaultGrid);
    buildRefreshCube();
    buildMaterialBlock();
    buildPcbBlank();
}

void MillingTable::buildProbe()
{
    auto *mesh = new Qt3DExtras::QCylinderMesh;
    mesh->setRadius(1.0f);
    mesh->setLength(1.0f);
    m_probeTransform = new Qt3DCore::QTransform;
    m_probeTransform->setScale3D(QVector3D(3.0f, 4.0f, 3.0f));
    m_probeTransform->setTranslation(QVector3D(0.0f, 2.0f, 0.0f));
    auto *material = new Qt3DExtras::QPhongMaterial;
    material->setDiffuse(ProbeColour);
    material->setSpecular(ProbeColour);
    m_probe = addEntity(m_root, mesh, material, m_probeTransform);
}

void MillingTable::buildTablePlate()
{
    m_tableTransform = new Qt3DCore::QTransform;
    m_tablePlate = addEntity(m_root, new Qt3DExtras::QCuboidMesh, new Qt3DExtras::QPhongMaterial, m_tableTransform);
    m_tableTransform->setScale3D(QVector3D(DefaultTableX, -10.0f, -DefaultTableY));
    m_tableTransform->setTranslation(QVector3D(DefaultTableX / 2, -5.0f, -DefaultTableY / 2));
}

void MillingTable::changeTable(float x, float y, float grid_x, float grid_y)
{
    m_tableTransform->setScale3D(QVector3D(std::fabs(x), -10.0f, -std::fabs(y)));
    m_tableTransform->setTranslation(QVector3D(x / 2, -5.0f, -y / 2));
    rebuildGrid(x, y, grid_x, grid_y);
}

// Only the inner lines are drawn: the table's own edges need no bar. All bars of one grid share one
// mesh and one black material.
void MillingTable::rebuildGrid(float tableX, float tableY, float gridX, float gridY)
{
    if (m_grid) {
        m_grid->setEnabled(false);
        m_grid->deleteLater();
    }
    m_grid = new Qt3DCore::QEntity(m_root);
    auto *mesh = new Qt3DExtras::QCuboidMesh(m_grid);
    auto *material = new Qt3DExtras::QPhongMaterial(m_grid);
    material->setDiffuse(Qt::black);
    const auto addBar = [&](const QVector3D &scale, const QVector3D &translation) {
        auto *transform = new Qt3DCore::QTransform;
        transform->setScale3D(scale);
        transform->setTranslation(translation);
        addEntity(m_grid, mesh, material, transform);
    };
    const int across = innerBarCount(tableX, gridX);
    const int along = innerBarCount(tableY, gridY);
    for (int i = 1; i <= across; ++i)
        addBar(QVector3D(1.0f, 1.0f, std::fabs(tableY)), QVector3D(i * gridX * sign(tableX), 0.0f, -tableY / 2));
    for (int j = 1; j <= along; ++j)
        addBar(QVector3D(std::fabs(tableX), 1.0f, 1.0f), QVector3D(tableX / 2, 0.0f, -j * gridY * sign(tableY)));
}

int MillingTable::gridBarCount() const
{
    return m_grid ? m_grid->findChildren<Qt3DCore::QEntity *>(QString(), Qt::FindDirectChildrenOnly).size() : 0;
}

void MillingTable::buildRefreshCube()
{
    auto *material = new Qt3DExtras::QPhongMaterial;
    material->setDiffuse(QColor(100, 100, 100));
    auto *transform = new Qt3DCore::QTransform;
    transform->setScale(0.1f);
    transform->setTranslation(QVector3D(1.0f, -1.0f, -1.0f));
    m_refreshCube = addEntity(m_root, new Qt3DExtras::QCuboidMesh, material, transform);
}

void MillingTable::buildMaterialBlock()
{
    auto *blockMesh = new Qt3DRender::QMesh;
    blockMesh->setSource(QUrl(QStringLiteral("qrc:/Resources/obj/Opferplatte.obj")));
    auto *blockMaterial = new Qt3DExtras::QPhongAlphaMaterial;
    blockMaterial->setDiffuse(MaterialColour);
    blockMaterial->setAmbient(MaterialColour);
    blockMaterial->setAlpha(0.8f);
    blockMaterial->setShininess(0.2f);
    m_materialTransform = new Qt3DCore::QTransform;
    m_materialTransform->setScale(1.0f);
    m_materialBlock = addEntity(m_root, blockMesh, blockMaterial, m_materialTransform);

    auto *screwMesh = new Qt3DRender::QMesh;
    screwMesh->setSource(QUrl(QStringLiteral("qrc:/Resources/obj/Opferplatte_schrauben.obj")));
    m_screwsTransform = new Qt3DCore::QTransform;
    m_screws = addEntity(m_root, screwMesh, phong<Qt3DExtras::QPhongMaterial>(BoardColour, BoardColour, 0.2f), m_screwsTransform);
}

void MillingTable::buildPcbBlank()
{
    m_pcbTransform = new Qt3DCore::QTransform;
    m_pcbOpaque = phong<Qt3DExtras::QPhongMaterial>(BoardColour, BoardColour, 0.2f);
    auto *translucent = phong<Qt3DExtras::QPhongAlphaMaterial>(BoardColour, BoardColour, 0.2f);
    translucent->setAlpha(0.5f);
    m_pcbTranslucent = translucent;
    m_pcbBlank = addEntity(m_root, new Qt3DExtras::QCuboidMesh, m_pcbOpaque, m_pcbTransform);
    m_pcbTranslucent->setParent(m_pcbBlank);
}

void MillingTable::changePCBPosition(float x, float y, float z)
{
    const QVector3D size = m_pcbTransform->scale3D();
    m_pcbTransform->setTranslation(QVector3D(size.x() / 2 + x, size.y() / 2 + z, -size.z() / 2 - y));
}

void MillingTable::changePCBSize(float x, float y, float z)
{
    m_pcbTransform->setScale3D(QVector3D(std::fabs(x), std::fabs(z), std::fabs(y)));
}

void MillingTable::changeProbePosition(float x, float y, float z)
{
    const float height = std::fabs(z) + 2.0f;
    m_probeTransform->setScale3D(QVector3D(3.0f, height, 3.0f));
    m_probeTransform->setTranslation(QVector3D(x, height / 2, -y));
}

void MillingTable::setMaterialThickness(float height)
{
    m_materialTransform->setScale3D(QVector3D(1.0f, height / 2, 1.0f));
    m_screwsTransform->setTranslation(QVector3D(0.0f, height - 2.0f, 0.0f));
}

void MillingTable::setPcbBlankTranslucent(float alpha)
{
    const bool translucent = alpha < 1.0f;
    m_pcbBlank->removeComponent(translucent ? m_pcbOpaque : m_pcbTranslucent);
    m_pcbBlank->addComponent(translucent ? m_pcbTranslucent : m_pcbOpaque);
}

void MillingTable::showPcbParts(bool on)
{
    m_pcbBlank->setEnabled(on);
    m_probe->setEnabled(on);
}

void MillingTable::showStockParts(bool on)
{
    m_materialBlock->setEnabled(on);
    m_screws->setEnabled(on);
}

bool MillingTable::refresh()
{
    m_refreshCube->setEnabled(m_refreshFlag);
    m_refreshFlag = !m_refreshFlag;
    return m_refreshFlag;
}
