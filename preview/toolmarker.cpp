#include "preview/toolmarker.h"

#include <Qt3DCore/QTransform>
#include <Qt3DExtras/QConeMesh>
#include <Qt3DExtras/QPhongMaterial>

namespace {
const QColor MarkerColour(40, 200, 60);
// The cone's mesh is centred on its middle.
const QVector3D TipToCentre(0.0f, ToolMarker::Length / 2, 0.0f);
}

ToolMarker::ToolMarker(Qt3DCore::QNode *parent)
    : Qt3DCore::QEntity(parent)
    , m_transform(new Qt3DCore::QTransform(this))
{
    auto *mesh = new Qt3DExtras::QConeMesh(this);
    mesh->setBottomRadius(0.0f);
    mesh->setTopRadius(Radius);
    mesh->setLength(Length);
    mesh->setHasTopEndcap(true);
    auto *material = new Qt3DExtras::QPhongMaterial(this);
    material->setDiffuse(MarkerColour);
    material->setAmbient(MarkerColour.darker(200));
    addComponent(mesh);
    addComponent(material);
    addComponent(m_transform);
}

void ToolMarker::setTip(const QVector3D &scenePoint)
{
    m_transform->setTranslation(scenePoint + TipToCentre);
}

QVector3D ToolMarker::tip() const
{
    return m_transform->translation() - TipToCentre;
}
