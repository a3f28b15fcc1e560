#pragma once

#include <QVector3D>
#include <Qt3DCore/QEntity>

namespace Qt3DCore { class QTransform; }

// The tool in the preview: a cone standing on its tip, the tip at the machine's position.
class ToolMarker : public Qt3DCore::QEntity
{
    Q_OBJECT
public:
    static constexpr float Length = 20.0f;
    static constexpr float Radius = 5.0f;

    explicit ToolMarker(Qt3DCore::QNode *parent = nullptr);

    void setTip(const QVector3D &scenePoint);
    QVector3D tip() const;

private:
    Qt3DCore::QTransform *m_transform;
};
