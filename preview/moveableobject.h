#pragma once

#include <QVector3D>
#include <Qt3DCore/QEntity>

namespace Qt3DCore { class QTransform; }
namespace Qt3DInput { class QAction; class QAxis; }
namespace Qt3DRender { class QCamera; }

// A scene entity the user can drag over the table with the left mouse button. The drag direction
// follows the camera, so moving the mouse up always pushes the object away from the viewer.
class MoveableObject : public Qt3DCore::QEntity
{
    Q_OBJECT
public:
    explicit MoveableObject(Qt3DCore::QNode *parent = nullptr);

    // The camera of the one preview window; null until the window exists.
    static void setSceneCamera(Qt3DRender::QCamera *camera);
    static Qt3DRender::QCamera *sceneCamera();

    QVector3D translation() const;
    void setTranslation(const QVector3D &translation);
    void setRotationZ(float degrees);
    Qt3DCore::QTransform *transform() const { return m_transform; }

    // The world step for one frame of mouse motion (mouseX, mouseY) seen through `camera`.
    static QVector3D dragStep(const Qt3DRender::QCamera *camera, float mouseX, float mouseY);

public Q_SLOTS:
    void processInput(float dt);

private:
    Qt3DCore::QTransform *m_transform;
    Qt3DInput::QAction *m_leftButton;
    Qt3DInput::QAxis *m_mouseX;
    Qt3DInput::QAxis *m_mouseY;
};
