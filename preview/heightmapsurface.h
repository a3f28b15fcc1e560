#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QVector3D>
#include <QVector>

#include <utility>

namespace Qt3DCore { class QEntity; }

// The board surface as the probe measured it, drawn over the PCB layers: a mesh through the grid
// points, coloured by height from blue (lowest) over green to red (highest), so that the operator
// sees a bad touch before the board is cut.
class HeightMapSurface : public QObject
{
    Q_OBJECT
public:
    explicit HeightMapSurface(QObject *parent = nullptr);
    ~HeightMapSurface() override;

    void setRoot(Qt3DCore::QEntity *root);
    // The points column by column (X outer, Y inner) in design coordinates, z the height in mm;
    // translation places them like the PCB layers (scene x, height, -y).
    void build(const QVector<QVector3D> &points, int columns, int rows, const QVector3D &translation);
    void clear();
    void show();
    void hide();

    bool isBuilt() const { return !m_entity.isNull(); }
    // The drawn mesh's vertex colours, red, green and blue for each point in the order given to build().
    QVector<float> vertexColours() const { return m_colours; }

    static std::pair<float, float> range(const QVector<QVector3D> &points);
    static QColor colourOf(float height, float lowest, float highest);

private:
    QPointer<Qt3DCore::QEntity> m_root;
    QPointer<Qt3DCore::QEntity> m_entity;
    QVector<float> m_colours;
    bool m_shown = false;
};
