#include "preview/layoutdisplayconverter.h"

#include <cfloat>
#include <cmath>

namespace {
// A coordinate no line has set yet keeps this value and is never written out.
constexpr float Unset = FLT_MIN;
constexpr float SegmentLength = 5.0f;
constexpr float Reach = 500.0f;
constexpr int DroppedLines = 3;

float withinReach(float value)
{
    return (value > Reach || value < -Reach) ? 0.0f : value;
}
} // namespace

void LayoutDisplayConverter::convert(const QVector<GcodeLine> &lines)
{
    m_position = QVector3D(Unset, Unset, Unset);
    for (m_lineIndex = 0; m_lineIndex < lines.size(); ++m_lineIndex)
        convertLine(lines.at(m_lineIndex));
    m_output.erase(m_output.begin(), m_output.begin() + std::min(DroppedLines, int(m_output.size())));
    m_output.prepend(QStringLiteral("G0 Z15"));
}

void LayoutDisplayConverter::convertLine(const GcodeLine &line)
{
    int mode = m_motionMode;
    if (line.has(QLatin1Char('G'))) {
        const float g = line.value(QLatin1Char('G'));
        if (!(g > -1.0f && g < 4.0f)) {
            m_output.append(line.text());
            return;
        }
        mode = m_motionMode = int(g);
    } else {
        const bool coordinates = line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z'));
        if (line.has(QLatin1Char('F')) || line.has(QLatin1Char('M')) || !coordinates || mode < 0) {
            m_output.append(line.text());
            return;
        }
    }
    if (mode == 0)
        rapidMove(line);
    else if (mode == 1)
        linearMove(line);
    else
        arcMove(line);
}

QVector3D LayoutDisplayConverter::target(const GcodeLine &line) const
{
    QVector3D point = m_position;
    const char letters[] = {'X', 'Y', 'Z'};
    for (int axis = 0; axis < 3; ++axis) {
        const QChar letter = QLatin1Char(letters[axis]);
        point[axis] = withinReach(line.has(letter) ? line.value(letter) : m_position[axis]);
    }
    return point;
}

void LayoutDisplayConverter::rapidMove(const GcodeLine &line)
{
    m_position = target(line);
    writeMove("G0", m_position);
}

void LayoutDisplayConverter::linearMove(const GcodeLine &line)
{
    const QVector3D start = m_position;
    m_position = target(line);
    const QVector3D distance = m_position - start;
    if (distance.length() >= SegmentLength) {
        // The range clamp bounds the distance, so at most a few hundred pieces are written.
        const QVector3D step = distance.normalized() * SegmentLength;
        for (QVector3D along = step; distance.length() > along.length(); along += step)
            writeMove("G1", start + along);
    }
    writeMove("G1", m_position);
}

void LayoutDisplayConverter::arcMove(const GcodeLine &line)
{
    // The arc is drawn from its own text; only the end point is followed.
    m_output.append(line.text());
    m_position = target(line);
}

void LayoutDisplayConverter::writeMove(const char *prefix, const QVector3D &point)
{
    QString text = QLatin1String(prefix) + QLatin1Char(' ');
    const char letters[] = {'X', 'Y', 'Z'};
    for (int axis = 0; axis < 3; ++axis) {
        if (point[axis] != Unset)
            text += QLatin1Char(letters[axis]) + QLatin1String(" ") + QString::number(point[axis], 'g', 6);
    }
    m_output.append(text);
}
