#pragma once

#include <QString>

#include "tools/grblsim/axes.h"

// The parser's modal state ("$G") and what it knows about positions and offsets, all in millimetres
// and machine coordinates.
struct GcodeState {
    enum Motion { Seek = 0, Linear = 10, CwArc = 20, CcwArc = 30, ProbeToward = 382, ProbeTowardNoError = 383,
                  ProbeAway = 384, ProbeAwayNoError = 385, NoMotion = 800 };
    enum Plane { XY = 0, ZX = 1, YZ = 2 };
    enum Flow { Running = -1, Pause = 0, End = 2, EndRewind = 30 };

    struct Modal {
        int motion = Seek;
        bool inverseTime = false;       // G93
        bool inches = false;            // G20
        bool incremental = false;       // G91
        int plane = XY;
        int coordinateSystem = 0;       // G54 + n
        bool dynamicToolLength = false; // G43.1
        int programFlow = Running;
        int spindle = 5;                // M3, M4, M5
        bool flood = false;             // M8
    };

    Modal modal;
    double feed = 0.0;                  // mm/min, or 1/min in inverse time
    double spindleSpeed = 0.0;
    int tool = 0;
    Axes position{};                    // where the parsed program has brought the tool
    Axes coordinateSystem{};            // offset of the active G54..G59 system
    Axes coordinateOffset{};            // G92
    double toolLengthOffset = 0.0;      // G43.1, on Z
};

// What the controller keeps in EEPROM and the parser reads: G54..G59, G28 and G30.
struct StoredCoordinates {
    Axes systems[6]{};
    Axes g28{};
    Axes g30{};
};

// One line as GRBL's parser sees it (already stripped of blanks and comments, in upper case):
// parse() imports its words and runs every error check in the firmware's order, so the status is
// the error code GRBL would answer; a block that passes holds what the line asks for, with its
// target already turned into machine coordinates.
struct GcodeBlock {
    enum NonModal { NoAction = 0, Dwell = 4, SetCoordinateData = 10, GoHome0 = 28, GoHome1 = 30, SetHome0 = 38,
                    SetHome1 = 40, AbsoluteOverride = 53, SetCoordinateOffset = 92, ResetCoordinateOffset = 102 };
    enum AxisCommand { NoAxisCommand, NonModalAxes, MotionAxes, ToolLengthAxes };

    // GRBL status code, 0 when the block may be executed. A jog is the whole "$J=" line.
    int parse(const QString &line, const GcodeState &state, const StoredCoordinates &stored, bool jog = false);
    // GRBL's number reader (sign, at most eight significant digits, one decimal point, single precision).
    static bool readNumber(const QString &line, int *pos, float *value);

    GcodeState::Modal modal;            // the modal state after this block
    int nonModal = NoAction;
    int axisCommand = NoAxisCommand;
    bool jog = false;
    double feed = 0.0;
    double spindleSpeed = 0.0;
    double p = 0.0;                     // dwell seconds, or the G10 system
    double radius = 0.0;
    int tool = 0;
    int coordinateIndex = 0;            // G10: the system it writes
    Axes target{};                      // motion target; G92: the new offset
    Axes offsets{};                     // arcs: centre minus start; G10: the new system; G28/G30: the stored position
    Axes blockCoordinateSystem{};       // the coordinate system in effect for this block
    int axis0 = 0, axis1 = 1, linearAxis = 2;   // the selected plane
    bool clockwise = false;
    bool probeAway = false;
    bool probeNoError = false;
};
