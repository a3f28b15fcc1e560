#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The controller's numbered `$` settings with GRBL 1.1's factory values.
class GrblSettings
{
public:
    GrblSettings();

    void restoreDefaults();
    bool contains(int number) const { return m_values.contains(number); }
    QString value(int number) const { return m_values.value(number); }
    double number(int number) const { return m_values.value(number).toDouble(); }
    // Stores the value in GRBL's own notation; returns the GRBL status code (0 when accepted).
    int write(int number, const QString &value);
    QStringList listing() const;   // "$0=10" ... in ascending order

    bool homingEnabled() const { return number(22) != 0.0; }
    bool reportsMachinePosition() const { return (int(number(10)) & 1) != 0; }
    double maxRate(int axis) const { return number(110 + axis); }
    double maxTravel(int axis) const { return number(130 + axis); }

private:
    QMap<int, QString> m_values;
};
