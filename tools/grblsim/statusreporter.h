#pragma once

#include <QString>

#include "tools/grblsim/axes.h"

// Composes the "<...>" status report as GRBL 1.1h does, including its habit of sending the work
// offset and the overrides only now and then: WCO every 10th report (30th while busy) and right
// after a change, Ov every 10th (20th while busy), after each WCO and right after a change.
class StatusReporter
{
public:
    struct Snapshot {
        QString state;
        Axes machinePosition{};
        Axes workOffset{};
        bool workPosition = false;      // $10 bit 0 clear: WPos instead of MPos
        bool bufferState = false;       // $10 bit 1: Bf
        bool inches = false;            // $13
        int freeBlocks = 0;
        int freeBytes = 0;
        double feed = 0.0;              // mm/min
        double spindleSpeed = 0.0;
        QString pins;
        int feedOverride = 100;
        int rapidOverride = 100;
        int spindleOverride = 100;
        QString accessories;            // S or C for the spindle, F for flood coolant
        bool busy = false;              // homing, running, holding, jogging or at the door
    };

    void reset();                       // as after a reset: WCO in the first report, Ov in the second
    void refreshOverrides() { m_overrideCountdown = 0; }
    void refreshWorkOffset() { m_offsetCountdown = 0; }
    QString compose(const Snapshot &snapshot);

    // GRBL's number printing: rounded half up, "-" before negative values.
    static QString number(double value, int decimals);
    static QString axes(const Axes &values, bool inches);

private:
    int m_offsetCountdown = 0;
    int m_overrideCountdown = 0;
};
