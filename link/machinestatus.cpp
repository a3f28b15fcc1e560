#include "link/machinestatus.h"

#include <QStringList>

namespace {
bool readTriple(const QString &text, QVector3D *values)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 3)
        return false;
    bool ok[3];
    const QVector3D read(parts[0].toFloat(&ok[0]), parts[1].toFloat(&ok[1]), parts[2].toFloat(&ok[2]));
    if (!(ok[0] && ok[1] && ok[2]))
        return false;
    *values = read;
    return true;
}

bool readNumbers(const QString &text, int count, float *values)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        values[i] = parts[i].toFloat(&ok);
        if (!ok)
            return false;
    }
    return true;
}
}

bool MachineStatus::isMoving() const
{
    return state == QLatin1String("Run") || state == QLatin1String("Jog") || state == QLatin1String("Home")
        || state == QLatin1String("Hold:1");
}

bool MachineStatus::update(const QString &report)
{
    if (!report.startsWith(QLatin1Char('<')) || !report.endsWith(QLatin1Char('>')))
        return false;
    const QStringList fields = report.mid(1, report.size() - 2).split(QLatin1Char('|'));
    MachineStatus next = *this;
    next.state = fields.first();
    QVector3D workPosition;
    bool hasWorkPosition = false;
    for (const QString &field : fields.mid(1)) {
        const QString name = field.section(QLatin1Char(':'), 0, 0);
        const QString value = field.section(QLatin1Char(':'), 1);
        float numbers[3];
        if (name == QLatin1String("MPos")) {
            readTriple(value, &next.machinePosition);
        } else if (name == QLatin1String("WPos")) {
            hasWorkPosition = readTriple(value, &workPosition);
        } else if (name == QLatin1String("WCO")) {
            next.workOffsetKnown = readTriple(value, &next.workOffset) || next.workOffsetKnown;
        } else if (name == QLatin1String("FS") && readNumbers(value, 2, numbers)) {
            next.feed = numbers[0];
            next.spindleSpeed = numbers[1];
        } else if (name == QLatin1String("F") && readNumbers(value, 1, numbers)) {
            next.feed = numbers[0];
        } else if (name == QLatin1String("Ov") && readNumbers(value, 3, numbers)) {
            next.feedOverride = int(numbers[0]);
            next.rapidOverride = int(numbers[1]);
            next.spindleOverride = int(numbers[2]);
        }
    }
    // With $10=0 GRBL reports the work position instead; the machine position follows from the offset.
    if (hasWorkPosition)
        next.machinePosition = workPosition + next.workOffset;
    if (next.state.isEmpty())
        return false;
    *this = next;
    return true;
}
