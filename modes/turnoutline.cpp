#include "modes/turnoutline.h"

#include "link/pcbserialmessage.h"

#include <cmath>

namespace {
// No usable depth per pass (an empty or zero setting) cuts the frame in one pass; an absurdly small
// one is held to this many passes.
constexpr double mostPasses = 1000.0;

QString number(float value)
{
    return QString::number(value, 'f', 6);
}

PCBSerialMessage *frameLine(const QString &text)
{
    auto *message = new PCBSerialMessage(QString(), -1);
    message->setContent(text);
    return message;
}

// Moves both ends outward by half of what the side lacks to reach the smallest frame side.
void widen(float *low, float *high)
{
    const float shortfall = TurnOutline::smallestSide - (*high - *low);
    if (shortfall > 0.0f) {
        *low -= shortfall / 2.0f;
        *high += shortfall / 2.0f;
    }
}
} // namespace

TurnOutline::TurnOutline(float minX, float minY, float maxX, float maxY, float cutterDiameter, QObject *parent)
    : QObject(parent)
    , m_offset(cutterDiameter + 1.0f)
    , m_halfWidth((cutterDiameter - 0.015f) / 2.0f)
{
    const float margin = cutterDiameter + 0.2f;
    m_x0 = minX - margin;
    m_y0 = minY - margin;
    m_x1 = maxX + margin;
    m_y1 = maxY + margin;
    widen(&m_x0, &m_x1);
    widen(&m_y0, &m_y1);
    addVerticalSide(m_x0, m_y0, m_y1, 1.0f);
    addUpperSide(m_x0, m_x1, m_y1);
    addVerticalSide(m_x1, m_y1, m_y0, -1.0f);
    addLowerSide(m_x0, m_x1, m_y0);
    m_path << QVector2D(m_x0, m_y0);
}

// From the corner out to the channel, then its four quarters alternating between the channel's two lines.
void TurnOutline::addVerticalSide(float x, float from, float to, float direction)
{
    const float q = (to - from) / 4.0f;
    const float c = x - direction * m_offset;
    const float h = direction * m_halfWidth;
    m_path << QVector2D(x, from) << QVector2D(c - h, from) << QVector2D(c - h, from + q) << QVector2D(c + h, from + q)
           << QVector2D(c + h, from + 2 * q) << QVector2D(c - h, from + 2 * q) << QVector2D(c - h, from + 3 * q)
           << QVector2D(c + h, from + 3 * q) << QVector2D(c + h, to);
}

void TurnOutline::addUpperSide(float from, float to, float y)
{
    const float q = (to - from) / 4.0f;
    const float c = y + m_offset;
    const float h = m_halfWidth;
    m_path << QVector2D(from, y) << QVector2D(from, c + h) << QVector2D(from + q, c + h) << QVector2D(from + q, c - h)
           << QVector2D(from + 2 * q, c - h) << QVector2D(from + 2 * q, c + h) << QVector2D(from + 3 * q, c + h)
           << QVector2D(from + 3 * q, c - h) << QVector2D(to, c - h);
}

// Walked from the right end back to the left one.
void TurnOutline::addLowerSide(float from, float to, float y)
{
    const float q = (to - from) / 4.0f;
    const float c = y - m_offset;
    const float h = m_halfWidth;
    m_path << QVector2D(to, y) << QVector2D(to, c + h) << QVector2D(from + 3 * q, c + h) << QVector2D(from + 3 * q, c - h)
           << QVector2D(from + 2 * q, c - h) << QVector2D(from + 2 * q, c + h) << QVector2D(from + q, c + h)
           << QVector2D(from + q, c - h) << QVector2D(from, c - h);
}

QList<PCBSerialMessage *> TurnOutline::messages(float depth, float feed, float depthPerPass) const
{
    const QVector2D &start = m_path.first();
    QList<PCBSerialMessage *> lines;
    lines << frameLine(QStringLiteral("G0 X") + number(start.x()) + QStringLiteral(" Y") + number(start.y())
                       + QStringLiteral(" Z") + number(30.0f) + QLatin1Char('\n'));
    lines << frameLine(QLatin1Char('F') + QString::number(feed, 'g', 6) + QLatin1Char('\n'));
    lines << frameLine(QStringLiteral("M8\n")) << frameLine(QStringLiteral("M3 S12000\n"));
    const double ratio = std::fabs(double(depth) / double(depthPerPass));
    const int passes = depthPerPass > 0.0f && std::isfinite(ratio) ? int(std::min(ratio, mostPasses)) + 1 : 1;
    const float stepDown = depth / float(passes);
    float z = 0.0f;
    for (int pass = 1; pass <= passes; ++pass) {
        z += stepDown;
        for (const QVector2D &p : m_path) {
            lines << frameLine(QStringLiteral("G1 X") + number(p.x()) + QStringLiteral(" Y") + number(p.y())
                               + QStringLiteral(" Z") + number(z) + QLatin1Char('\n'));
        }
    }
    return lines;
}
