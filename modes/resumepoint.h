#pragma once

#include <QString>
#include <QStringList>

class GcodeProgram;

// Where a program stands after its first lines, to start it part-way after a stop or a broken tool:
// the modal state GRBL would have by then (units, distance mode, plane, work offset system, feed,
// spindle and its speed, coolant) and the programmed position, in the program's own coordinates.
// The lines are read by GRBL's word rules; lines GRBL would refuse change nothing.
//
// Offsets the program sets itself (G92, G10, G28.1, G30.1, G43.1) are lost with the reset that stopped
// it and cannot be rebuilt from words alone, so a program that sets one before the chosen line is
// refused, as is one whose position is unknown there (a G53, G28 or G30 move, a probe) or that has
// set no feed.
class ResumePoint
{
public:
    // Reads the lines before the given line (0-based); an empty error means the point is usable.
    static ResumePoint scan(const GcodeProgram &program, qint64 line, QString *error);

    // What to send before the line: the modal state, then up to the highest height the program had
    // reached (its clearance), the spindle and coolant with a moment to spin up, over the start point,
    // and down to it at the program's feed.
    QStringList preamble() const;

private:
    QString scanLine(const class MachineBlock &block);
    QString number(double millimetres) const;

    bool m_inches = false;
    bool m_incremental = false;
    int m_plane = 17;
    int m_system = 54;
    double m_feed = 0.0;                // in program units per minute, as GRBL keeps the F word
    int m_spindle = 5;
    double m_spindleSpeed = 0.0;
    bool m_flood = false;
    bool m_mist = false;
    double m_position[3] = {};          // mm, in the program's work coordinates
    bool m_known[3] = {};
    double m_clearance = 0.0;           // mm, the highest Z so far
    bool m_clearanceKnown = false;
};
