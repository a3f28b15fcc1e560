#include "tools/grblsim/grblsettings.h"

namespace {
enum Status { Ok = 0, BadNumberFormat = 2, InvalidStatement = 3, NegativeValue = 4, SettingStepPulseMin = 6 };

// Integer settings are listed without decimals, the others with three, as GRBL prints them.
bool isIntegerSetting(int number)
{
    return number < 100 && number != 11 && number != 12 && number != 24 && number != 25 && number != 27;
}
}

GrblSettings::GrblSettings()
{
    restoreDefaults();
}

void GrblSettings::restoreDefaults()
{
    // Homing is enabled ($22=1, factory value 0) because the host calibrates with "$H".
    m_values = {
        {0, "10"}, {1, "25"}, {2, "0"}, {3, "0"}, {4, "0"}, {5, "0"}, {6, "0"},
        {10, "1"}, {11, "0.010"}, {12, "0.002"}, {13, "0"},
        {20, "0"}, {21, "0"}, {22, "1"}, {23, "0"}, {24, "25.000"}, {25, "500.000"}, {26, "250"}, {27, "1.000"},
        {30, "1000"}, {31, "0"}, {32, "0"},
        {100, "250.000"}, {101, "250.000"}, {102, "250.000"},
        {110, "500.000"}, {111, "500.000"}, {112, "500.000"},
        {120, "10.000"}, {121, "10.000"}, {122, "10.000"},
        {130, "200.000"}, {131, "200.000"}, {132, "200.000"},
    };
}

int GrblSettings::write(int number, const QString &value)
{
    bool ok = false;
    const double parsed = value.toDouble(&ok);
    if (!ok)
        return BadNumberFormat;
    if (!m_values.contains(number))
        return InvalidStatement;
    if (parsed < 0.0)
        return NegativeValue;
    if (number == 0 && parsed < 3.0)
        return SettingStepPulseMin;
    m_values[number] = isIntegerSetting(number) ? QString::number(qint64(parsed))
                                                : QString::number(parsed, 'f', 3);
    return Ok;
}

QStringList GrblSettings::listing() const
{
    QStringList lines;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        lines << QStringLiteral("$%1=%2").arg(it.key()).arg(it.value());
    return lines;
}
