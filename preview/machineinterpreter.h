#pragma once

#include "preview/toolpathinterpreter.h"

class MachineBlock;

// Follows a program the way GRBL 1.1 executes it, in machine millimetres: G20/G21 units, G90/G91
// distances (arc centres always relative, as GRBL's G91.1), G92 and G92.1 offsets, G53 machine
// coordinates, G54-G59 with the offsets the program sets by G10 L2/L20 (zero otherwise: the
// machine's stored offsets are unknown here), G43.1 tool length, G17/G18/G19 arc planes with helical
// arcs, R-form arcs and full circles, G28/G30 with their stored positions (machine zero until the
// program stores one by G28.1/G30.1), G38.x probing up to its target, and every G word of a line.
// A line the machine would refuse changes nothing: an unreadable line, a G or M word GRBL does not
// know (G64, M6), a feed motion without a feed rate, coordinates without a motion, an arc whose
// radius does not fit its end.
class MachineInterpreter : public ToolpathInterpreter
{
public:
    void interpret(const GcodeLine &line, ToolMotion::Sink &sink) override;

private:
    enum class Motion { Rapid, Feed, Clockwise, CounterClockwise, Probe, None };
    enum class Command { None, Dwell, SetSystem, GoHome, StoreHome, SetOffset, ClearOffset, ToolLength };

    // The parser's modal state, which a line the machine refuses leaves as it was.
    struct Modal
    {
        Motion motion = Motion::Rapid;
        int plane = 0;                      // 0 G17, 1 G18, 2 G19
        bool inches = false;
        bool incremental = false;
        bool inverseTime = false;
        double feed = 0.0;                  // mm/min, or per minute under G93
        int system = 0;                     // G54 + n
        double toolLength = 0.0;
    };

    // What one line asks for besides the modal state it sets.
    struct Request
    {
        Command command = Command::None;
        int homeIndex = 0;                  // G28 or G30
        bool machineCoordinates = false;    // G53
        int axisWords = 0;                  // a bit per axis
        ToolMotion::Point values{};         // the axis words in mm
    };

    static bool readCodes(const MachineBlock &block, Modal &modal, Request &request);
    static void readAxes(const MachineBlock &block, const Modal &modal, Request &request);
    bool execute(const MachineBlock &block, Modal &modal, const Request &request, ToolMotion::Sink &sink);
    void setOffset(const Modal &modal, const Request &request);
    void setSystem(const MachineBlock &block, const Modal &modal, const Request &request);
    void goHome(const Modal &modal, const Request &request, ToolMotion::Sink &sink);
    bool move(const MachineBlock &block, Modal &modal, const Request &request, ToolMotion::Sink &sink);
    static bool arc(const MachineBlock &block, const Modal &modal, ToolMotion &motion);
    ToolMotion::Point target(const Modal &modal, const Request &request) const;
    void rapid(const ToolMotion::Point &to, ToolMotion::Sink &sink);

    Modal m_modal;
    ToolMotion::Point m_position{};
    ToolMotion::Point m_systems[6]{};       // G54-G59
    ToolMotion::Point m_offset{};           // G92
    ToolMotion::Point m_home[2]{};          // G28, G30
};
