#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector3D>
#include <QVector>
#include <Qt3DCore/QEntity>
#include <Qt3DRender/QGeometryRenderer>

#include "preview/pathgeometry.h"
#include "toolpath/gcodeline.h"

namespace Qt3DCore { class QTransform; }
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
    // How later builds read their programs; literal until set.
    void setInterpretation(PathGeometry::Interpretation interpretation) { m_interpretation = interpretation; }
    void build(const QStringList &lines);
    void buildWithStock(const QStringList &lines);
    // Replaces the drawing by a path built elsewhere; lines() stays empty.
    void draw(PathVertices path);
    // A translucent plate just below the drawing's zero height covering `area` (G-code X and Y).
    void setStockPlate(const PathGeometry::Extent &area);
    void clear();

    void show();
    void hide();
    void setTranslation(const QVector3D &translation);
    void moveBy(const QVector3D &delta);
    QVector3D translation() const;
    PathGeometry::Extent extent() const;
    // Draws the path up to the end of the given line of the drawn program (1-based, empty lines
    // counted) in the executed colour; 0 shows nothing executed. Changes only the draw ranges, never
    // the geometry.
    void setExecutedLine(qint64 programLine);

    const QVector<GcodeLine> &lines() const { return m_lines; }
    const QVector<PathGeometry *> &geometries() const { return m_geometries; }
    const QVector<QPointer<MoveableObject>> &entities() const { return m_entities; }
    // The draw ranges of the first piece: the part still to run and the part already run.
    Qt3DRender::QGeometryRenderer *remainingPart() const;
    Qt3DRender::QGeometryRenderer *executedPart() const;
    Qt3DCore::QEntity *stockPlate() const { return m_stockEntity.data(); }
    Qt3DExtras::QPlaneMesh *stockMesh() const { return m_stockEntity ? m_stockMesh : nullptr; }
    Qt3DCore::QTransform *stockTransform() const { return m_stockEntity ? m_stockTransform : nullptr; }

private:
    void setEnabled(bool enabled);
    void removeStockPlate();
    void addPiece(PathVertices path);
    void addExecutedPart(MoveableObject *piece, PathGeometry *geometry);

    QPointer<Qt3DCore::QEntity> m_root;
    PathGeometry::Interpretation m_interpretation = PathGeometry::Interpretation::Literal;
    // The non-empty lines of the built list, parsed.
    QVector<GcodeLine> m_lines;
    // The renderer, geometry, material and stock plate of a piece are owned by its entity.
    QVector<Qt3DRender::QGeometryRenderer *> m_renderers;
    QVector<PathGeometry *> m_geometries;
    // Pieces live in the scene under the root and may go with it before this helper is cleared.
    QVector<QPointer<MoveableObject>> m_entities;
    Qt3DExtras::QPhongMaterial *m_pathMaterial = nullptr;
    // A child of the first piece drawing the executed part over the same vertex buffer.
    QPointer<Qt3DRender::QGeometryRenderer> m_executedRenderer;
    QPointer<Qt3DCore::QEntity> m_stockEntity;
    Qt3DExtras::QPlaneMesh *m_stockMesh = nullptr;
    Qt3DCore::QTransform *m_stockTransform = nullptr;
    Qt3DExtras::QPhongAlphaMaterial *m_stockMaterial = nullptr;
};
