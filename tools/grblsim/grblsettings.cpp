#include "tools/grblsim/grblsettings.h"

#include <algorithm>
#include <cmath>

namespace {
enum Status {
    Ok = 0, InvalidStatement = 3, NegativeValue = 4, SettingStepPulseMin = 6, SoftLimitError = 10,
    MaxStepRateExceeded = 12,
};

constexpr double MaxStepRateHz = 30000.0;

enum class Kind { Byte, Flag, Float, Rpm };

Kind kindOf(int number)
{
    switch (number) {
    case 4: case 5: case 6: case 13: case 20: case 21: case 22: case 32:
        return Kind::Flag;
    case 30: case 31:
        return Kind::Rpm;
    case 11: case 12: case 24: case 25: case 27:
        return Kind::Float;
    default:
        return number >= 100 ? Kind::Float : Kind::Byte;
    }
}
}

GrblSettings::GrblSettings()
{
    restoreDefaults();
}

void GrblSettings::restoreDefaults()
{
    m_values = {
        {0, 10}, {1, 25}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0},
        {10, 1}, {11, 0.010}, {12, 0.002}, {13, 0},
        {20, 0}, {21, 0}, {22, 0}, {23, 0}, {24, 25.0}, {25, 500.0}, {26, 250}, {27, 1.0},
        {30, 1000}, {31, 0}, {32, 0},
        {100, 250.0}, {101, 250.0}, {102, 250.0},
        {110, 500.0}, {111, 500.0}, {112, 500.0},
        {120, 10.0}, {121, 10.0}, {122, 10.0},
        {130, 200.0}, {131, 200.0}, {132, 200.0},
    };
}

QString GrblSettings::value(int number) const
{
    const double stored = m_values.value(number);
    switch (kindOf(number)) {
    case Kind::Float:
        return QString::number(stored, 'f', 3);
    case Kind::Rpm:
        return QString::number(stored, 'f', 0);
    default:
        return QString::number(qint64(stored));
    }
}

// Whole-number settings keep the truncated low byte, switches only on or off, as the firmware
// stores them; a step rate beyond what the step generator can produce is refused.
int GrblSettings::write(int number, double value)
{
    if (value < 0.0)
        return NegativeValue;
    if (!m_values.contains(number))
        return InvalidStatement;
    const int byteValue = int(std::min(value, 1e9)) & 0xff;
    if (number == 0 && byteValue < 3)
        return SettingStepPulseMin;
    if (number == 20 && byteValue != 0 && !homingEnabled())
        return SoftLimitError;
    if ((number >= 100 && number <= 102 && value * maxRate(number - 100) > MaxStepRateHz * 60.0)
        || (number >= 110 && number <= 112 && value * stepsPerMm(number - 110) > MaxStepRateHz * 60.0))
        return MaxStepRateExceeded;
    switch (kindOf(number)) {
    case Kind::Flag:
        m_values[number] = byteValue != 0 ? 1 : 0;
        break;
    case Kind::Byte:
        m_values[number] = byteValue;
        break;
    default:
        m_values[number] = value;
        break;
    }
    if (number == 22 && byteValue == 0)
        m_values[20] = 0;               // soft limits need the homed position
    return Ok;
}

int GrblSettings::writeAll(const QMap<int, double> &values, int *refused)
{
    QList<int> order = values.keys();
    if (order.removeOne(22))
        order.prepend(22);
    for (const int number : order) {
        if (const int status = write(number, values.value(number))) {
            if (refused)
                *refused = number;
            return status;
        }
    }
    return Ok;
}

QStringList GrblSettings::listing() const
{
    QStringList lines;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        lines << QStringLiteral("$%1=%2").arg(it.key()).arg(value(it.key()));
    return lines;
}
