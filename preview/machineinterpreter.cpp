#include "preview/machineinterpreter.h"

#include "preview/machineblock.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double TwoPi = 6.283185307179586;
constexpr double MillimetresPerInch = 25.4;
// GRBL takes an arc whose end meets its start within this angle for a full circle.
constexpr double FullCircleEpsilon = 5e-7;
constexpr char AxisLetters[] = "XYZ";
constexpr char CentreLetters[] = "IJK";
// The circle's axes per plane: G17 X and Y, G18 Z and X, G19 Y and Z.
constexpr int PlaneAxes[3][2] = {{0, 1}, {2, 0}, {1, 2}};
constexpr int ToolLengthAxis = 2;

double length(const ToolMotion &motion)
{
    const ToolMotion::Point &a = motion.start;
    const ToolMotion::Point &b = motion.end;
    if (motion.kind != ToolMotion::Kind::Arc)
        return std::hypot(b[0] - a[0], b[1] - a[1], b[2] - a[2]);
    const int axis = motion.linearAxis();
    return std::hypot(motion.radius * motion.sweep, b[axis] - a[axis]);
}

bool given(int axisWords, int axis)
{
    return axisWords & (1 << axis);
}

// Program flow (M0, M1, M2, M30), spindle (M3-M5) and coolant (M7-M9), in tenths; M6 and the like
// GRBL refuses.
bool supportedMCode(int code)
{
    switch (code) {
    case 0: case 10: case 20: case 300:
    case 30: case 40: case 50:
    case 70: case 80: case 90:
        return true;
    default:
        return false;
    }
}
} // namespace

void MachineInterpreter::interpret(const GcodeLine &line, ToolMotion::Sink &sink)
{
    const MachineBlock block(line);
    if (!block.isValid())
        return;
    Modal modal = m_modal;
    Request request;
    if (!readCodes(block, modal, request))
        return;
    readAxes(block, modal, request);
    if (execute(block, modal, request, sink))
        m_modal = modal;
}

// The modal words take effect before anything else of the line, as in GRBL: "G20 X1" is an inch.
bool MachineInterpreter::readCodes(const MachineBlock &block, Modal &modal, Request &request)
{
    for (const int code : block.mCodes()) {
        if (!supportedMCode(code))
            return false;
    }
    for (const int code : block.gCodes()) {
        switch (code) {
        case 0: case 10: case 20: case 30: modal.motion = Motion(code / 10); break;
        case 382: case 383: case 384: case 385: modal.motion = Motion::Probe; break;
        case 800: modal.motion = Motion::None; break;
        case 40: request.command = Command::Dwell; break;
        case 100: request.command = Command::SetSystem; break;
        case 280: case 300:
            request.command = Command::GoHome;
            request.homeIndex = code == 300;
            break;
        case 281: case 301:
            request.command = Command::StoreHome;
            request.homeIndex = code == 301;
            break;
        case 530: request.machineCoordinates = true; break;
        case 920: request.command = Command::SetOffset; break;
        case 921: request.command = Command::ClearOffset; break;
        case 431: request.command = Command::ToolLength; break;
        case 490: modal.toolLength = 0.0; break;
        case 170: case 180: case 190: modal.plane = (code - 170) / 10; break;
        case 200: case 210: modal.inches = code == 200; break;
        case 900: case 910: modal.incremental = code == 910; break;
        case 930: case 940: modal.inverseTime = code == 930; break;
        case 540: case 550: case 560: case 570: case 580: case 590: modal.system = (code - 540) / 10; break;
        case 400: case 610: case 911: break;    // cutter compensation off, exact path, arc centres relative
        default: return false;
        }
    }
    if (block.has('F'))
        modal.feed = block.value('F') * (modal.inches && !modal.inverseTime ? MillimetresPerInch : 1.0);
    return true;
}

void MachineInterpreter::readAxes(const MachineBlock &block, const Modal &modal, Request &request)
{
    const double unit = modal.inches ? MillimetresPerInch : 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        if (block.has(AxisLetters[axis])) {
            request.axisWords |= 1 << axis;
            request.values[axis] = block.value(AxisLetters[axis]) * unit;
        }
    }
}

// G10, G28.1, G30.1, G92 and G43.1 take the line's axis words for themselves; anything else moves.
bool MachineInterpreter::execute(const MachineBlock &block, Modal &modal, const Request &request, ToolMotion::Sink &sink)
{
    // Spindle, coolant and program words wait for the motion before them.
    if (!block.mCodes().isEmpty())
        sink.synchronise();
    switch (request.command) {
    case Command::Dwell:
        sink.dwell(block.value('P'));
        break;
    case Command::SetSystem:
        setSystem(block, modal, request);
        return true;
    case Command::GoHome:
        goHome(modal, request, sink);
        return true;
    case Command::StoreHome:
        m_home[request.homeIndex] = m_position;
        return true;
    case Command::SetOffset:
        setOffset(modal, request);
        return true;
    case Command::ClearOffset:
        m_offset = {};
        return true;
    case Command::ToolLength:
        modal.toolLength = request.values[ToolLengthAxis];
        return true;
    case Command::None:
        break;
    }
    return move(block, modal, request, sink);
}

// The given axes' work position becomes the given values.
void MachineInterpreter::setOffset(const Modal &modal, const Request &request)
{
    for (int axis = 0; axis < 3; ++axis) {
        if (given(request.axisWords, axis))
            m_offset[axis] = m_position[axis] - m_systems[modal.system][axis] - request.values[axis]
                             - (axis == ToolLengthAxis ? modal.toolLength : 0.0);
    }
}

// G10 L2 sets a coordinate system's offsets, G10 L20 sets them so that the tool stands at the given
// work position; P0 is the system in use, P1-P6 are G54-G59.
void MachineInterpreter::setSystem(const MachineBlock &block, const Modal &modal, const Request &request)
{
    const double l = block.value('L');
    const double p = block.value('P');
    if ((l != 2.0 && l != 20.0) || !(p >= 0.0 && p <= 6.0))
        return;
    ToolMotion::Point &system = m_systems[p < 1.0 ? modal.system : int(p) - 1];
    for (int axis = 0; axis < 3; ++axis) {
        if (!given(request.axisWords, axis))
            continue;
        system[axis] = l == 2.0 ? request.values[axis]
                                : m_position[axis] - m_offset[axis] - request.values[axis]
                                      - (axis == ToolLengthAxis ? modal.toolLength : 0.0);
    }
}

// Through the given axes' intermediate point, then those axes (all three without one) to the stored
// position.
void MachineInterpreter::goHome(const Modal &modal, const Request &request, ToolMotion::Sink &sink)
{
    ToolMotion::Point home = m_home[request.homeIndex];
    if (request.axisWords) {
        rapid(target(modal, request), sink);
        for (int axis = 0; axis < 3; ++axis) {
            if (!given(request.axisWords, axis))
                home[axis] = m_position[axis];
        }
    }
    rapid(home, sink);
}

bool MachineInterpreter::move(const MachineBlock &block, Modal &modal, const Request &request, ToolMotion::Sink &sink)
{
    if (!request.axisWords)
        return true;
    if (modal.motion == Motion::None || (modal.motion != Motion::Rapid && !(modal.feed > 0.0)))
        return false;
    ToolMotion motion;
    motion.start = m_position;
    motion.end = target(modal, request);
    motion.kind = modal.motion == Motion::Rapid ? ToolMotion::Kind::Rapid : ToolMotion::Kind::Feed;
    const bool isArc = modal.motion == Motion::Clockwise || modal.motion == Motion::CounterClockwise;
    if (isArc && !arc(block, modal, motion))
        return false;
    if (motion.kind != ToolMotion::Kind::Rapid)
        motion.feed = modal.inverseTime ? modal.feed * length(motion) : modal.feed;
    // Under G93 a feed rate holds for its own line only.
    if (modal.inverseTime)
        modal.feed = 0.0;
    sink.move(motion);
    m_position = motion.end;
    return true;
}

bool MachineInterpreter::arc(const MachineBlock &block, const Modal &modal, ToolMotion &motion)
{
    const bool clockwise = modal.motion == Motion::Clockwise;
    const double unit = modal.inches ? MillimetresPerInch : 1.0;
    const int a0 = PlaneAxes[modal.plane][0];
    const int a1 = PlaneAxes[modal.plane][1];
    const ToolMotion::Point &start = motion.start;
    const ToolMotion::Point &end = motion.end;
    motion.kind = ToolMotion::Kind::Arc;
    motion.axis0 = a0;
    motion.axis1 = a1;
    if (block.has('R')) {
        // GRBL refuses a radius shorter than half the way to the end, and an end on the start.
        const double r = block.value('R') * unit;
        const double chord = std::hypot(end[a0] - start[a0], end[a1] - start[a1]);
        if (!(chord > 0.0) || 4.0 * r * r < chord * chord)
            return false;
        motion.centreFromRadius(start[a0], start[a1], end[a0], end[a1], r, clockwise);
    } else {
        const double i = block.value(CentreLetters[a0]) * unit;
        const double j = block.value(CentreLetters[a1]) * unit;
        motion.centre0 = start[a0] + i;
        motion.centre1 = start[a1] + j;
        motion.radius = std::hypot(i, j);
        // Nor does it take an end off the circle by more than 0.005 mm and 0.1 % (or 0.5 mm).
        const double miss = std::fabs(std::hypot(end[a0] - motion.centre0, end[a1] - motion.centre1) - motion.radius);
        if (miss > 0.005 && (miss > 0.5 || miss > 0.001 * motion.radius))
            return false;
    }
    // GRBL's angle between the radii to the start and to the end; an end on the start is a full circle.
    const double r0 = start[a0] - motion.centre0;
    const double r1 = start[a1] - motion.centre1;
    const double rt0 = end[a0] - motion.centre0;
    const double rt1 = end[a1] - motion.centre1;
    double sweep = std::atan2(r0 * rt1 - r1 * rt0, r0 * rt0 + r1 * rt1);
    if (clockwise && sweep >= -FullCircleEpsilon)
        sweep -= TwoPi;
    if (!clockwise && sweep <= FullCircleEpsilon)
        sweep += TwoPi;
    motion.startAngle = std::atan2(r1, r0);
    motion.sweep = sweep;
    // About ten chords per radian, whatever the radius.
    const bool drawable = std::isfinite(sweep) && std::isfinite(motion.radius);
    motion.chords = drawable ? std::max(1, int(std::ceil(10.0 * std::fabs(sweep)))) : 0;
    return true;
}

ToolMotion::Point MachineInterpreter::target(const Modal &modal, const Request &request) const
{
    ToolMotion::Point to = m_position;
    for (int axis = 0; axis < 3; ++axis) {
        if (!given(request.axisWords, axis))
            continue;
        const double value = request.values[axis];
        if (request.machineCoordinates)
            to[axis] = value;
        else if (modal.incremental)
            to[axis] = m_position[axis] + value;
        else
            to[axis] = value + m_systems[modal.system][axis] + m_offset[axis]
                       + (axis == ToolLengthAxis ? modal.toolLength : 0.0);
    }
    return to;
}

void MachineInterpreter::rapid(const ToolMotion::Point &to, ToolMotion::Sink &sink)
{
    ToolMotion motion;
    motion.kind = ToolMotion::Kind::Rapid;
    motion.start = m_position;
    motion.end = to;
    sink.move(motion);
    m_position = to;
}
