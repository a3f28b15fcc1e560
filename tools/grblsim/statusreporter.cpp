#include "tools/grblsim/statusreporter.h"

#include <cmath>

namespace {
constexpr double MmPerInch = 25.4;
}

void StatusReporter::reset()
{
    m_offsetCountdown = 0;
    m_overrideCountdown = 0;
}

QString StatusReporter::number(double value, int decimals)
{
    if (std::fabs(value) < 5e-7)
        value = 0.0;
    const double scaled = std::floor(std::fabs(value) * std::pow(10.0, decimals) + 0.5);
    if (!(scaled < 1e15))
        return QString::number(value, 'f', decimals);
    QString digits = QString::number(qint64(scaled)).rightJustified(decimals + 1, QLatin1Char('0'));
    if (decimals > 0)
        digits.insert(digits.size() - decimals, QLatin1Char('.'));
    return value < 0.0 ? QLatin1Char('-') + digits : digits;
}

QString StatusReporter::axes(const Axes &values, bool inches)
{
    QString text;
    for (int axis = 0; axis < 3; ++axis) {
        if (axis > 0)
            text += QLatin1Char(',');
        text += inches ? number(values[axis] / MmPerInch, 4) : number(values[axis], 3);
    }
    return text;
}

QString StatusReporter::compose(const Snapshot &s)
{
    QString report = QLatin1Char('<') + s.state;
    if (s.workPosition) {
        Axes work{};
        for (int axis = 0; axis < 3; ++axis)
            work[axis] = s.machinePosition[axis] - s.workOffset[axis];
        report += QStringLiteral("|WPos:") + axes(work, s.inches);
    } else {
        report += QStringLiteral("|MPos:") + axes(s.machinePosition, s.inches);
    }
    if (s.bufferState)
        report += QStringLiteral("|Bf:%1,%2").arg(s.freeBlocks).arg(s.freeBytes);
    const QString feed = s.inches ? number(s.feed / MmPerInch, 1) : number(s.feed, 0);
    report += QStringLiteral("|FS:%1,%2").arg(feed, number(s.spindleSpeed, 0));
    if (!s.pins.isEmpty())
        report += QStringLiteral("|Pn:") + s.pins;
    if (m_offsetCountdown > 0) {
        --m_offsetCountdown;
    } else {
        m_offsetCountdown = s.busy ? 29 : 9;
        if (m_overrideCountdown == 0)
            m_overrideCountdown = 1;
        report += QStringLiteral("|WCO:") + axes(s.workOffset, s.inches);
    }
    if (m_overrideCountdown > 0) {
        --m_overrideCountdown;
    } else {
        m_overrideCountdown = s.busy ? 19 : 9;
        report += QStringLiteral("|Ov:%1,%2,%3").arg(s.feedOverride).arg(s.rapidOverride).arg(s.spindleOverride);
        if (!s.accessories.isEmpty())
            report += QStringLiteral("|A:") + s.accessories;
    }
    return report + QLatin1Char('>');
}
