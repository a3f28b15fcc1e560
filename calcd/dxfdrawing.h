#ifndef DXFDRAWING_H
#define DXFDRAWING_H

#include "calcd/contour.h"

#include <QMap>
#include <QString>

#include <dxflib/dl_creationadapter.h>

#include <memory>
#include <string>

// The drawn geometry of a DXF file in mm: lines, arcs, circles, polylines with bulges, ellipses
// and splines (as short lines), and block inserts with their transforms, all as contours.
class DxfDrawing : public DL_CreationAdapter
{
public:
    // Empty when the text is not a DXF drawing or draws nothing.
    static QVector<Contour> read(const QString &text);

    void addLine(const DL_LineData &data) override;
    void addArc(const DL_ArcData &data) override;
    void addCircle(const DL_CircleData &data) override;
    void addEllipse(const DL_EllipseData &data) override;
    void addPolyline(const DL_PolylineData &data) override;
    void addVertex(const DL_VertexData &data) override;
    void addSpline(const DL_SplineData &data) override;
    void addControlPoint(const DL_ControlPointData &data) override;
    void addKnot(const DL_KnotData &data) override;
    void addFitPoint(const DL_FitPointData &data) override;
    void addBlock(const DL_BlockData &data) override;
    void endBlock() override;
    void addInsert(const DL_InsertData &data) override;
    void endEntity() override;
    void endSequence() override;
    void setVariableInt(const std::string &key, int value, int code) override;

private:
    struct Insert
    {
        QString block;
        Contour::Transform transform;
    };
    struct Block
    {
        QPointF base;
        QVector<Contour> contours;
        QVector<Insert> inserts;
    };
    struct Spline
    {
        int degree = 3;
        bool closed = false;
        QVector<double> knots;
        QVector<QPointF> control;
        QVector<double> weights;
        QVector<QPointF> fit;
    };

    void finishPending();
    void add(const Contour &contour);
    bool mirroredByExtrusion();
    QPointF ocs(double x, double y);
    QVector<Contour> expand(const Block &block, const Contour::Transform &transform, int depth) const;
    static QVector<QPointF> splinePoints(const Spline &spline);

    QMap<QString, Block> blocks;
    Block model;
    Block *current = &model;
    std::unique_ptr<Contour> polyline;
    bool polylineClosed = false;
    bool hasStart = false;
    double pendingBulge = 0;
    std::unique_ptr<Spline> spline;
    double unitToMm = 1;
};

#endif
