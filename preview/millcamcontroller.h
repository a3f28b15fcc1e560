#pragma once

#include <QPointer>
#include <QVector3D>
#include <Qt3DCore/QEntity>

namespace Qt3DInput { class QAction; class QAxis; }
namespace Qt3DRender { class QCamera; }

// Mouse control of the preview camera: the wheel zooms toward the view centre, a right-drag orbits
// about it, and a right-drag with Ctrl held slides the view over the table. The 3D window gets no
// keys: this controller, installed as its event filter, consumes them.
class MillCamController : public Qt3DCore::QEntity
{
    Q_OBJECT
public:
    explicit MillCamController(Qt3DCore::QNode *parent = nullptr);

    void setCamera(Qt3DRender::QCamera *camera);
    bool eventFilter(QObject *watched, QEvent *event) override;

    // One frame of right-drag motion; the frame action calls it with the mouse axes' values.
    void moveCamera(float dt, float mouseX, float mouseY);
    bool isCtrlHeld() const { return m_ctrl; }

public Q_SLOTS:
    void processInput(float dt);

private:
    void zoom(int angleDelta);

    Qt3DInput::QAction *m_rightButton;
    Qt3DInput::QAxis *m_mouseX;
    Qt3DInput::QAxis *m_mouseY;
    QPointer<Qt3DRender::QCamera> m_camera;
    const QVector3D m_panAxis{0.0f, 1.0f, 0.0f};
    bool m_ctrl = false;
};
