#pragma once

#include <QRectF>
#include <QVector3D>
#include <QVector>
#include <Qt3DRender/QGeometry>

#include "toolpath/gcodeline.h"

namespace Qt3DRender { class QAttribute; class QBuffer; }

// The tool path of one program as a single polyline: every move adds its end point, arcs are cut
// into chords of about a tenth of a radian. Scene coordinates map the G-code point (X, Y, Z) to
// (X, Z, -Y), one unit per millimetre.
class PathGeometry : public Qt3DRender::QGeometry
{
    Q_OBJECT
public:
    // Extent of the feed moves in G-code X and Y; empty (minima above maxima) when there are none.
    struct Extent
    {
        float minX, minY, maxX, maxY;
        static Extent empty();
        bool isEmpty() const { return minX > maxX || minY > maxY; }
        void unite(const Extent &other);
    };

    explicit PathGeometry(Qt3DCore::QNode *parent = nullptr);

    bool build(const QVector<GcodeLine> &lines);
    int vertexCount() const { return int(m_vertices.size() / VertexBytes); }
    Extent cutExtent() const;
    // x, y, z of every vertex, as uploaded to the vertex buffer.
    QVector<float> vertices() const;
    const QVector<float> &cutVertices() const { return m_cutVertices; }

private:
    void interpret(const GcodeLine &line);
    void moveTo(const GcodeLine &line, int mode);
    void arcTo(const GcodeLine &line, bool clockwise);
    void updateMachinePos(const GcodeLine &line);
    QVector3D toScene(const QVector3D &gcode) const;
    void push(const QVector3D &point);
    void upload();

    Qt3DRender::QAttribute *m_positionAttribute;
    Qt3DRender::QBuffer *m_vertexBuffer;
    static constexpr int VertexBytes = 3 * sizeof(float);

    // The vertex floats are collected in the very byte array handed to the buffer, so a long
    // program's path is held once, not twice.
    QByteArray m_vertices;
    QVector<float> m_cutVertices;
    QVector3D m_drawPos;
    QVector3D m_machinePos;
    QVector3D m_offset;
    int m_motionMode = -1;
    int m_nextLine = 0;
};
