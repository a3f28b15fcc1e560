#include "preview/pathgeometry.h"

#include <Qt3DRender/QAttribute>
#include <Qt3DRender/QBuffer>

#include <cfloat>
#include <cmath>
#include <cstring>

namespace {
constexpr double TwoPi = 6.283185307179586;

struct Arc
{
    double centreX = 0.0;
    double centreY = 0.0;
    double radius = 0.0;
};

// Centre of an arc given by its radius: on the chord's perpendicular bisector, to the right of the
// direction of travel for a clockwise arc and to the left for a counter-clockwise one, as GRBL does.
// A negative radius asks for the arc longer than a half circle and takes the other centre. A radius
// too short for the chord is stretched to half the chord (a half circle) rather than rejected, so a
// slightly inexact program still draws close to what the machine would cut.
Arc arcFromRadius(double startX, double startY, double endX, double endY, double r, bool clockwise)
{
    const double dx = endX - startX;
    const double dy = endY - startY;
    const double chord = std::hypot(dx, dy);
    Arc arc{startX, startY, std::fabs(r)};
    if (!(chord > 0.0))
        return arc;
    const double half = chord / 2.0;
    const double height = std::sqrt(std::max(0.0, r * r - half * half));
    const double side = (clockwise ? 1.0 : -1.0) * (r < 0.0 ? -1.0 : 1.0);
    arc.centreX = startX + dx / 2.0 + side * height * dy / chord;
    arc.centreY = startY + dy / 2.0 - side * height * dx / chord;
    arc.radius = std::hypot(half, height);
    return arc;
}

// Number of chords for a sweep: about ten per radian; G2 rounds up and adds one, G3 truncates.
int chordCount(double sweep, bool clockwise)
{
    return clockwise ? int(std::ceil(-10.0 * sweep)) + 1 : 1 - int(std::trunc(-10.0 * sweep));
}
} // namespace

PathGeometry::Extent PathGeometry::Extent::empty()
{
    return {FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
}

void PathGeometry::Extent::unite(const Extent &other)
{
    minX = std::min(minX, other.minX);
    minY = std::min(minY, other.minY);
    maxX = std::max(maxX, other.maxX);
    maxY = std::max(maxY, other.maxY);
}

PathGeometry::PathGeometry(Qt3DCore::QNode *parent)
    : Qt3DRender::QGeometry(parent)
    , m_positionAttribute(new Qt3DRender::QAttribute(this))
    , m_vertexBuffer(new Qt3DRender::QBuffer(this))
{
    // The buffer's role follows from the vertex attribute that reads it.
    m_positionAttribute->setName(Qt3DRender::QAttribute::defaultPositionAttributeName());
    m_positionAttribute->setVertexBaseType(Qt3DRender::QAttribute::Float);
    m_positionAttribute->setVertexSize(3);
    m_positionAttribute->setAttributeType(Qt3DRender::QAttribute::VertexAttribute);
    m_positionAttribute->setByteStride(0);
    m_positionAttribute->setBuffer(m_vertexBuffer);
    addAttribute(m_positionAttribute);
}

bool PathGeometry::build(const QVector<GcodeLine> &lines)
{
    m_vertices.resize(0);
    m_vertices.reserve(VertexBytes * (lines.size() + 1));
    m_drawPos = QVector3D();
    push(m_drawPos);
    for (; m_nextLine < lines.size(); ++m_nextLine)
        interpret(lines.at(m_nextLine));
    upload();
    return false;
}

void PathGeometry::interpret(const GcodeLine &line)
{
    if (line.has(QLatin1Char('G'))) {
        const float g = line.value(QLatin1Char('G'));
        // Only the four motion words count; G4, G17, G21, G90, G92, G38.2 and the like are ignored.
        if (g > -1.0f && g < 4.0f) {
            m_motionMode = int(g);
            moveTo(line, m_motionMode);
        }
        return;
    }
    const bool coordinates = line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z'));
    if (coordinates && m_motionMode >= 0)
        moveTo(line, m_motionMode);
}

void PathGeometry::moveTo(const GcodeLine &line, int mode)
{
    if (mode >= 2) {
        arcTo(line, mode == 2);
        return;
    }
    updateMachinePos(line);
    m_drawPos = toScene(m_machinePos);
    push(m_drawPos);
    if (mode == 1)
        m_cutVertices << m_drawPos.x() << m_drawPos.y() << m_drawPos.z();
}

void PathGeometry::arcTo(const GcodeLine &line, bool clockwise)
{
    const double startX = m_drawPos.x() - m_offset.x();
    const double startY = m_offset.z() - m_drawPos.z();
    updateMachinePos(line);
    const double endX = m_machinePos.x();
    const double endY = m_machinePos.y();

    Arc arc;
    if (line.has(QLatin1Char('R'))) {
        arc = arcFromRadius(startX, startY, endX, endY, line.value(QLatin1Char('R')), clockwise);
    } else {
        const double i = line.value(QLatin1Char('I'));
        const double j = line.value(QLatin1Char('J'));
        const double k = line.value(QLatin1Char('K'));
        arc = {startX + i, startY + j, std::sqrt(i * i + j * j + k * k)};
    }

    double startAngle = std::atan2(startY - arc.centreY, startX - arc.centreX);
    double sweep = std::atan2(endY - arc.centreY, endX - arc.centreX) - startAngle;
    if (clockwise && sweep > 0.0)
        sweep -= TwoPi;
    if (!clockwise && sweep < 0.0)
        sweep += TwoPi;
    if (startAngle < 0.0)
        startAngle += TwoPi;

    // Non-finite input (an infinite or NaN word) draws the end point only.
    if (std::isfinite(sweep) && std::isfinite(arc.radius)) {
        // Counting chords instead of summing the step keeps the point count exact: rounding of the
        // running angle must not add or lose the last chord.
        const int steps = chordCount(sweep, clockwise);
        const double step = sweep / steps;
        for (int n = 0; std::fabs(step) > 0.0 && n < steps; ++n) {
            const double angle = startAngle + n * step;
            push(QVector3D(float(m_offset.x() + arc.centreX + arc.radius * std::cos(angle)), m_drawPos.y(),
                           float(m_offset.z() - (arc.centreY + arc.radius * std::sin(angle)))));
        }
    }
    m_drawPos = toScene(m_machinePos);
    push(m_drawPos);
}

void PathGeometry::updateMachinePos(const GcodeLine &line)
{
    if (line.has(QLatin1Char('X')))
        m_machinePos.setX(line.value(QLatin1Char('X')));
    if (line.has(QLatin1Char('Y')))
        m_machinePos.setY(line.value(QLatin1Char('Y')));
    if (line.has(QLatin1Char('Z')))
        m_machinePos.setZ(line.value(QLatin1Char('Z')));
}

QVector3D PathGeometry::toScene(const QVector3D &gcode) const
{
    return QVector3D(gcode.x() + m_offset.x(), gcode.z() + m_offset.y(), m_offset.z() - gcode.y());
}

void PathGeometry::push(const QVector3D &point)
{
    const float xyz[3] = {point.x(), point.y(), point.z()};
    m_vertices.append(reinterpret_cast<const char *>(xyz), VertexBytes);
}

void PathGeometry::upload()
{
    m_vertexBuffer->setData(m_vertices);
    m_positionAttribute->setCount(uint(vertexCount()));
}

QVector<float> PathGeometry::vertices() const
{
    QVector<float> floats(vertexCount() * 3);
    std::memcpy(floats.data(), m_vertices.constData(), size_t(floats.size()) * sizeof(float));
    return floats;
}

PathGeometry::Extent PathGeometry::cutExtent() const
{
    Extent extent = Extent::empty();
    for (int i = 0; i + 2 < m_cutVertices.size(); i += 3) {
        const float x = m_cutVertices.at(i);
        const float y = -m_cutVertices.at(i + 2);
        extent.unite({x, y, x, y});
    }
    return extent;
}
