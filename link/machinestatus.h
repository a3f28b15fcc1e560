#pragma once

#include <QMetaType>
#include <QString>
#include <QVector3D>

// What GRBL's status reports tell of the machine, e.g.
// "<Run|MPos:1.000,2.000,3.000|FS:500,12000|WCO:0.000,0.000,0.000|Ov:100,100,100>". GRBL sends the work
// offset (WCO) and the overrides (Ov) only now and then, so each report updates what it carries and
// the rest keeps its last known value.
struct MachineStatus
{
    QString state;                      // "Idle", "Run", "Hold:0", "Door:1", "Alarm", "Check", "Jog", "Home" ...
    QVector3D machinePosition;
    QVector3D workOffset;
    bool workOffsetKnown = false;       // a report has carried the work offset
    float feed = 0.0f;                  // mm/min
    float spindleSpeed = 0.0f;
    int feedOverride = 100;             // percent
    int rapidOverride = 100;
    int spindleOverride = 100;

    QVector3D workPosition() const { return machinePosition - workOffset; }
    // Motion is under way or about to end: the state changes without the program doing anything.
    bool isMoving() const;

    // Takes in one report; false, and nothing changed, when the line is no readable report.
    bool update(const QString &report);
};

Q_DECLARE_METATYPE(MachineStatus)
