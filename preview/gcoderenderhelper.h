#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector3D>
#include <QVector>
#include <Qt3DCore/QEntity>

#include "preview/pathgeometry.h"
#include "toolpath/gcodeline.h"

namespace Qt3DCore { class QTransform; }
namespace Qt3DRender { class QGeometryRenderer; }
namespace Qt3DExtras { class QPhongMaterial; class QPhongAlphaMaterial; class QPlaneMesh; }
class MoveableObject;

// One drawn program in the preview: parses the lines, builds the tool path geometry and the entities
// that show it, and lets the owner show, hide and move the drawing. Each build replaces the last.
class Gcoderenderhelper : public QObject
{
    Q_OBJECT
public:
    explicit Gcoderenderhelper(QObject *parent = nullptr);
    ~Gcoderenderhelper() override;

    void setRoot(Qt3DCore::QEntity *root);
    void build(const QStringList &lines);
    void buildWithStock(const QStringList &lines);
    // A translucent plate just below the drawing's zero height covering `area` (G-code X and Y).
    void setStockPlate(const PathGeometry::Extent &area);
    void clear();

    void show();
    void hide();
    void setTranslation(const QVector3D &translation);
    void moveBy(const QVector3D &delta);
    QVector3D translation() const;
    PathGeometry::Extent extent() const;

    const QVector<GcodeLine> &lines() const { return m_lines; }
    const QVector<PathGeometry *> &geometries() const { return m_geometries; }
    const QVector<QPointer<MoveableObject>> &entities() const { return m_entities; }
    Qt3DCore::QEntity *stockPlate() const { return m_stockEntity.data(); }
    Qt3DExtras::QPlaneMesh *stockMesh() const { return m_stockEntity ? m_stockMesh : nullptr; }
    Qt3DCore::QTransform *stockTransform() const { return m_stockEntity ? m_stockTransform : nullptr; }

private:
    void setEnabled(bool enabled);
    void removeStockPlate();

    QPointer<Qt3DCore::QEntity> m_root;
    QVector<GcodeLine> m_lines;
    // The renderer, geometry, material and stock plate of a piece are owned by its entity.
    QVector<Qt3DRender::QGeometryRenderer *> m_renderers;
    QVector<PathGeometry *> m_geometries;
    // Pieces live in the scene under the root and may go with it before this helper is cleared.
    QVector<QPointer<MoveableObject>> m_entities;
    Qt3DExtras::QPhongMaterial *m_pathMaterial = nullptr;
    QPointer<Qt3DCore::QEntity> m_stockEntity;
    Qt3DExtras::QPlaneMesh *m_stockMesh = nullptr;
    Qt3DCore::QTransform *m_stockTransform = nullptr;
    Qt3DExtras::QPhongAlphaMaterial *m_stockMaterial = nullptr;
};
