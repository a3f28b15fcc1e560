#pragma once

#include <QVector>
#include <Qt3DRender/QGeometry>

#include <memory>

#include "preview/pathextent.h"
#include "preview/pathvertices.h"
#include "toolpath/gcodeline.h"

namespace Qt3DRender { class QAttribute; class QBuffer; }

// The tool path of one program as a single polyline in a vertex buffer, arcs cut into chords of about
// a tenth of a radian. Scene coordinates map the G-code point (X, Y, Z) to (X, Z, -Y), one unit per
// millimetre.
class PathGeometry : public Qt3DRender::QGeometry
{
    Q_OBJECT
public:
    // How the program is read: as the machine executes it (the G-code mode's own programs), or with
    // coordinates as they stand (the programs the PCB and STL/DXF jobs write for themselves).
    enum class Interpretation { Literal, Machine };
    using Extent = PathExtent;

    explicit PathGeometry(Qt3DCore::QNode *parent = nullptr);

    static std::unique_ptr<ToolpathInterpreter> interpreter(Interpretation interpretation);

    bool build(const QVector<GcodeLine> &lines, Interpretation interpretation = Interpretation::Literal);
    // Shows a path built elsewhere, a worker thread for instance.
    void setPath(PathVertices path);
    int vertexCount() const { return m_path.vertexCount(); }
    Extent cutExtent() const { return m_path.cutExtent(); }
    // x, y, z of every vertex, as uploaded to the vertex buffer.
    QVector<float> vertices() const;
    // Vertex count once each line was drawn.
    const LineEndIndex &lineEnds() const { return m_path.lineEnds(); }

private:
    Qt3DRender::QAttribute *m_positionAttribute;
    Qt3DRender::QBuffer *m_vertexBuffer;
    // The buffer shares the path's vertex bytes, so a long program's path is held once, not twice.
    PathVertices m_path;
};
