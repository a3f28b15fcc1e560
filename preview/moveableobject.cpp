#include "preview/moveableobject.h"

#include "preview/mousedrag.h"

#include <QPointer>
#include <Qt3DCore/QTransform>
#include <Qt3DInput/QAction>
#include <Qt3DInput/QAxis>
#include <Qt3DInput/QMouseEvent>
#include <Qt3DRender/QCamera>

namespace {
QPointer<Qt3DRender::QCamera> &cameraPointer()
{
    static QPointer<Qt3DRender::QCamera> camera;
    return camera;
}
} // namespace

MoveableObject::MoveableObject(Qt3DCore::QNode *parent)
    : Qt3DCore::QEntity(parent)
    , m_transform(new Qt3DCore::QTransform(this))
{
    const MouseDrag drag = MouseDrag::create(this, Qt3DInput::QMouseEvent::LeftButton);
    m_leftButton = drag.button;
    m_mouseX = drag.axisX;
    m_mouseY = drag.axisY;
    connect(drag.frameAction, &Qt3DLogic::QFrameAction::triggered, this, &MoveableObject::processInput);
    addComponent(m_transform);
}

void MoveableObject::setSceneCamera(Qt3DRender::QCamera *camera)
{
    cameraPointer() = camera;
}

Qt3DRender::QCamera *MoveableObject::sceneCamera()
{
    return cameraPointer();
}

QVector3D MoveableObject::translation() const
{
    return m_transform->translation();
}

void MoveableObject::setTranslation(const QVector3D &translation)
{
    m_transform->setTranslation(translation);
}

void MoveableObject::setRotationZ(float degrees)
{
    m_transform->setRotationZ(degrees);
}

QVector3D MoveableObject::dragStep(const Qt3DRender::QCamera *camera, float mouseX, float mouseY)
{
    // Dragging upwards always moves away from the viewer, even with the camera turned upside down.
    const float forward = camera->upVector().normalized().y() <= 0.0f ? -mouseY : mouseY;
    const QVector3D move(3.0f * mouseX, 0.0f, -3.0f * forward);
    QMatrix4x4 rotation = camera->viewMatrix();
    rotation.setColumn(3, QVector4D(0.0f, 0.0f, 0.0f, 1.0f));
    const QVector4D world = QVector4D(move, 0.0f) * rotation;
    return QVector3D(world.x(), 0.0f, world.z()).normalized() * move.length();
}

void MoveableObject::processInput(float)
{
    Qt3DRender::QCamera *camera = sceneCamera();
    if (!camera || !m_leftButton->isActive())
        return;
    setTranslation(translation() + dragStep(camera, m_mouseX->value(), m_mouseY->value()));
}
