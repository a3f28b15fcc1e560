#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// The controller's numbered `$` settings, starting from GRBL 1.1's factory values (a freshly
// erased EEPROM: homing disabled, 250 steps/mm, 500 mm/min, 10 mm/s^2, 200 mm of travel).
class GrblSettings
{
public:
    GrblSettings();

    void restoreDefaults();
    bool contains(int number) const { return m_values.contains(number); }
    QString value(int number) const;    // as "$$" prints it
    double number(int number) const { return m_values.value(number); }
    // Checks and stores a value as GRBL does; returns the GRBL status code (0 when accepted).
    int write(int number, double value);
    // Writes them all, homing first since soft limits need it; returns the first refusal's status
    // code and number, 0 when all were taken.
    int writeAll(const QMap<int, double> &values, int *refused = nullptr);
    QStringList listing() const;        // "$0=10" ... in ascending order

    bool homingEnabled() const { return number(22) != 0.0; }
    bool softLimitsEnabled() const { return number(20) != 0.0; }
    bool reportsMachinePosition() const { return (int(number(10)) & 1) != 0; }
    bool reportsBufferState() const { return (int(number(10)) & 2) != 0; }
    bool reportsInches() const { return number(13) != 0.0; }
    double junctionDeviation() const { return number(11); }
    double arcTolerance() const { return number(12); }
    double stepsPerMm(int axis) const { return number(100 + axis); }
    double maxRate(int axis) const { return number(110 + axis); }          // mm/min
    double acceleration(int axis) const { return number(120 + axis); }    // mm/s^2
    double maxTravel(int axis) const { return number(130 + axis); }
    double homingFeed() const { return number(24); }
    double homingSeek() const { return number(25); }
    int homingDebounceMs() const { return int(number(26)); }
    double homingPulloff() const { return number(27); }
    double spindleMax() const { return number(30); }
    double spindleMin() const { return number(31); }

private:
    QMap<int, double> m_values;
};
