#include "preview/millcamcontroller.h"

#include "preview/mousedrag.h"

#include <QKeyEvent>
#include <QWheelEvent>
#include <Qt3DInput/QAction>
#include <Qt3DInput/QAxis>
#include <Qt3DRender/QCamera>

namespace {
constexpr float OrbitDegreesPerSecond = 60.0f;
constexpr float SlideMillimetresPerSecond = 200.0f;
}

MillCamController::MillCamController(Qt3DCore::QNode *parent)
    : Qt3DCore::QEntity(parent)
{
    const MouseDrag drag = MouseDrag::create(this, Qt3DInput::QMouseEvent::RightButton);
    m_rightButton = drag.button;
    m_mouseX = drag.axisX;
    m_mouseY = drag.axisY;
    connect(drag.frameAction, &Qt3DLogic::QFrameAction::triggered, this, &MillCamController::processInput);
}

void MillCamController::setCamera(Qt3DRender::QCamera *camera)
{
    m_camera = camera;
}

bool MillCamController::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Control)
            m_ctrl = event->type() == QEvent::KeyPress;
        return true;
    case QEvent::Wheel:
        zoom(static_cast<QWheelEvent *>(event)->angleDelta().y());
        return true;
    default:
        return Qt3DCore::QEntity::eventFilter(watched, event);
    }
}

// One standard notch (120) moves 12 mm; fine-resolution wheels below 10 move nothing.
void MillCamController::zoom(int angleDelta)
{
    if (!m_camera)
        return;
    const int step = int(angleDelta * 0.1);
    const QVector3D direction = (m_camera->position() - m_camera->viewCenter()).normalized();
    m_camera->setPosition(m_camera->position() - direction * float(step));
}

void MillCamController::processInput(float dt)
{
    if (m_camera && m_rightButton->isActive())
        moveCamera(dt, m_mouseX->value(), m_mouseY->value());
}

void MillCamController::moveCamera(float dt, float mouseX, float mouseY)
{
    if (!m_camera)
        return;
    if (m_ctrl) {
        const QVector3D slide(-SlideMillimetresPerSecond * dt * mouseX, 0.0f, SlideMillimetresPerSecond * dt * mouseY);
        m_camera->setViewCenter(m_camera->viewCenter() + slide);
        m_camera->setPosition(m_camera->position() + slide);
        return;
    }
    m_camera->panAboutViewCenter(-OrbitDegreesPerSecond * dt * mouseX, m_panAxis);
    m_camera->tiltAboutViewCenter(-OrbitDegreesPerSecond * dt * mouseY);
}
