#include "tools/grblsim/simulatedmachine.h"

#include "tools/grblsim/gcodeblock.h"

#include <QRegularExpression>
#include <QTimer>

#include <cmath>
#include <limits>

namespace {
enum Status {
    Ok = 0, InvalidStatement = 3, SettingDisabled = 5, IdleError = 8, SystemGcLock = 9, Overflow = 14,
    InvalidJogCommand = 16, UnsupportedCommand = 20, UndefinedFeedRate = 22, AxisCommandConflict = 24,
    NoAxisWords = 26, ValueWordMissing = 28, UnsupportedCoordinateSystem = 29, G53InvalidMotionMode = 30,
    AxisWordsExist = 31, NoAxisWordsInPlane = 32, InvalidTarget = 33, NoOffsetsInPlane = 35,
    Deferred = -1,                      // answered later, when the line's work is done
};
enum Alarm { HardLimit = 1, AbortCycle = 3, ProbeInitialState = 4, ProbeNoContact = 5 };

constexpr int LineBufferSize = 80;      // GRBL keeps at most 79 characters of a stripped line
constexpr double Pi = 3.14159265358979323846;
constexpr double MmPerInch = 25.4;
constexpr int ProgramPause = 0, ProgramEnd = 20, ProgramEndRewind = 300, NoProgramFlow = -1;

// GRBL drops blanks, control characters and comments and reads letters in upper case.
QString strippedLine(const QByteArray &raw, bool *overflow)
{
    QString line;
    bool comment = false;
    for (const char c : raw) {
        if (comment) {
            comment = c != ')';
            continue;
        }
        if (c == '(') {
            comment = true;
        } else if (c == ';') {
            break;
        } else if (c > ' ' && c < 0x7f) {
            if (line.size() >= LineBufferSize - 1)
                *overflow = true;
            else
                line.append(QChar::fromLatin1(c).toUpper());
        }
    }
    return line;
}

int programFlowOf(const GcodeBlock &block)
{
    if (block.hasM(0))
        return ProgramPause;
    if (block.hasM(2))
        return ProgramEnd;
    if (block.hasM(30))
        return ProgramEndRewind;
    return NoProgramFlow;
}

constexpr int SpindleCodes[3] = {3, 4, 5};
constexpr int CoolantCodes[3] = {7, 8, 9};

// The spindle (M3, M4, M5) or coolant (M7, M8, M9) state a block sets, or the current one.
int modalMOf(const GcodeBlock &block, const int (&codes)[3], int current)
{
    for (const int code : codes) {
        if (block.hasM(code))
            return code;
    }
    return current;
}
}

SimulatedMachine::SimulatedMachine(const Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_planner(config.timeScale)
    , m_surface(config.surface, config.surfaceZ)
    , m_motionTimer(new QTimer(this))
    , m_delayTimer(new QTimer(this))
{
    m_motionTimer->setSingleShot(true);
    m_motionTimer->setTimerType(Qt::PreciseTimer);
    m_delayTimer->setSingleShot(true);
    m_delayTimer->setTimerType(Qt::PreciseTimer);
    connect(m_motionTimer, &QTimer::timeout, this, [this] {
        refreshMotion();
        checkWaiting();
    });
    connect(m_delayTimer, &QTimer::timeout, this, &SimulatedMachine::checkWaiting);
    m_clock.start();
}

qint64 SimulatedMachine::nowUs() const
{
    return m_clock.nsecsElapsed() / 1000;
}

// Starts idle: a controller built without the homing lock at power-up, so a host may send
// "$H" or "$X" first but need not.
void SimulatedMachine::powerUp()
{
    printBanner();
}

void SimulatedMachine::restart()
{
    abandonWaiting();
    m_planner.stop(nowUs());
    m_planner.setPosition(Axes{});
    m_plannedPosition = Axes{};
    refreshMotion();
    m_lock = Lock::None;
    m_held = false;
    m_homing = false;
    m_checkMode = false;
    m_doorActive = false;
    m_modal = Modal{};
    m_g92Offset = Axes{};
    m_reportCounter = 0;
}

void SimulatedMachine::printBanner()
{
    emit answer(QString());
    emit answer(QStringLiteral("Grbl 1.1h ['$' for help]"));
}

bool SimulatedMachine::acceptsLine() const
{
    return !m_waitCondition && !m_held && !m_doorActive && m_lock != Lock::ResetRequired;
}

bool SimulatedMachine::isSuspended() const
{
    return m_held || m_doorActive || m_lock == Lock::ResetRequired;
}

bool SimulatedMachine::isIdle() const
{
    return m_lock == Lock::None && m_planner.isEmpty() && !m_held && !m_doorActive && !m_homing;
}

bool SimulatedMachine::isIdleOrAlarm() const
{
    return isIdle() || (m_lock == Lock::Alarm && m_planner.isEmpty() && !m_homing);
}

void SimulatedMachine::executeLine(const QByteArray &rawLine)
{
    if (DriverRegisters::isRequest(QString::fromLatin1(rawLine))) {
        emit answer(m_drivers.reply(QString::fromLatin1(rawLine)));
        return;
    }
    bool overflow = false;
    const QString line = strippedLine(rawLine, &overflow);
    int status = Ok;
    if (overflow)
        status = Overflow;
    else if (line.isEmpty())
        status = Ok;
    else if (line.startsWith(QLatin1Char('$')))
        status = executeSystemCommand(line);
    else if (m_lock != Lock::None || m_planner.isJogging())
        status = SystemGcLock;
    else
        status = executeGcode(line);
    conclude(status);
}

void SimulatedMachine::conclude(int status)
{
    if (status != Deferred)
        finishLine(status);
}

void SimulatedMachine::finishLine(int status)
{
    emit answer(status == Ok ? QStringLiteral("ok") : QStringLiteral("error:%1").arg(status));
}

int SimulatedMachine::executeSystemCommand(const QString &line)
{
    if (line == QLatin1String("$")) {
        emit answer(QStringLiteral("[HLP:$$ $# $G $I $N $x=val $Nx=line $J=line $SLP $C $X $H ~ ! ? ctrl-x]"));
        return Ok;
    }
    if (line == QLatin1String("$G")) {
        emit answer(parserState());
        return Ok;
    }
    if (line == QLatin1String("$X"))
        return unlock();
    if (line == QLatin1String("$$")) {
        // Refused while moving or held, as GRBL does: printing would stall the step generation.
        if (!m_planner.isEmpty() || m_held)
            return IdleError;
        for (const QString &entry : m_settings.listing())
            emit answer(entry);
        return Ok;
    }
    if (line == QLatin1String("$C"))
        return toggleCheckMode();
    if (line.startsWith(QLatin1String("$J=")))
        return executeJog(line.mid(3));
    if (!isIdleOrAlarm())
        return IdleError;
    if (line == QLatin1String("$#")) {
        reportParameters();
        return Ok;
    }
    if (line == QLatin1String("$I")) {
        emit answer(QStringLiteral("[VER:1.1h.20190830:%1]").arg(m_buildInfo));
        emit answer(QStringLiteral("[OPT:V,%1,128]").arg(MotionPlanner::Capacity));
        return Ok;
    }
    if (line == QLatin1String("$N")) {
        for (int i = 0; i < 2; ++i)
            emit answer(QStringLiteral("$N%1=%2").arg(i).arg(m_startupLines[i]));
        return Ok;
    }
    if (line == QLatin1String("$H"))
        return startHoming();
    if (line == QLatin1String("$SLP"))
        return Ok;
    return executeStoredCommand(line);
}

// The commands that end in an EEPROM write: settings, restore, start-up lines, build info.
int SimulatedMachine::executeStoredCommand(const QString &line)
{
    static const QRegularExpression settingWrite(QStringLiteral("^\\$(\\d+)=(.*)$"));
    if (line.startsWith(QLatin1String("$RST="))) {
        const QString what = line.mid(5);
        if (what == QLatin1String("$") || what == QLatin1String("*"))
            m_settings.restoreDefaults();
        if (what == QLatin1String("#") || what == QLatin1String("*")) {
            for (Axes &offset : m_coordinateOffsets)
                offset = Axes{};
            m_g28Position = m_g30Position = Axes{};
        }
        if (what != QLatin1String("$") && what != QLatin1String("#") && what != QLatin1String("*"))
            return InvalidStatement;
        return writeEeprom();
    }
    if (line.startsWith(QLatin1String("$I="))) {
        m_buildInfo = line.mid(3);
        return writeEeprom();
    }
    if (line.startsWith(QLatin1String("$N0=")) || line.startsWith(QLatin1String("$N1="))) {
        m_startupLines[line.at(2).digitValue()] = line.mid(4);
        return writeEeprom();
    }
    const auto match = settingWrite.match(line);
    if (!match.hasMatch())
        return InvalidStatement;
    if (const int status = m_settings.write(match.captured(1).toInt(), match.captured(2)))
        return status;
    return writeEeprom();
}

// The write waits for the motion before it; while the EEPROM is written the controller ignores
// its serial port; "ok" follows the write. store() puts the new value in place once the motion ended.
int SimulatedMachine::writeEeprom(std::function<void()> store)
{
    waitUntil([this] { return m_planner.isEmpty(); }, [this, store] {
        if (store)
            store();
        emit eepromWriteStarted(m_config.eepromWriteMs);
        m_delayTimer->start(m_config.eepromWriteMs);
        waitUntil([this] { return !m_delayTimer->isActive(); }, [this] { finishLine(Ok); });
    });
    return Deferred;
}

// Always confirms, also when not locked: hosts send "$X" at connection time either way.
int SimulatedMachine::unlock()
{
    if (m_lock == Lock::Alarm)
        m_lock = Lock::None;
    emit answer(QStringLiteral("[MSG:Caution: Unlocked]"));
    return Ok;
}

int SimulatedMachine::toggleCheckMode()
{
    if (!isIdle() && !m_checkMode)
        return IdleError;
    m_checkMode = !m_checkMode;
    emit answer(m_checkMode ? QStringLiteral("[MSG:Enabled]") : QStringLiteral("[MSG:Disabled]"));
    return Ok;
}

void SimulatedMachine::reportParameters()
{
    for (int i = 0; i < 6; ++i)
        emit answer(QStringLiteral("[G%1:%2]").arg(54 + i).arg(formatAxes(m_coordinateOffsets[i])));
    emit answer(QStringLiteral("[G28:%1]").arg(formatAxes(m_g28Position)));
    emit answer(QStringLiteral("[G30:%1]").arg(formatAxes(m_g30Position)));
    emit answer(QStringLiteral("[G92:%1]").arg(formatAxes(m_g92Offset)));
    emit answer(QStringLiteral("[TLO:0.000]"));
    emit answer(QStringLiteral("[PRB:%1:%2]").arg(formatAxes(m_probePosition)).arg(m_probeSucceeded ? 1 : 0));
}

// Homing runs a short move to the switches and leaves the machine at 0,0,0, unlocked.
int SimulatedMachine::startHoming()
{
    if (!m_settings.homingEnabled())
        return SettingDisabled;
    m_homing = true;
    MotionPlanner::Block block;
    block.start = m_plannedPosition;
    block.end = Axes{};
    block.feed = std::max(m_settings.number(25), block.length() * 60.0);   // at most a second
    queueBlock(block);
    waitUntil([this] { return m_planner.isEmpty(); }, [this] {
        m_homing = false;
        m_lock = Lock::None;
        finishLine(Ok);
    });
    return Deferred;
}

int SimulatedMachine::executeJog(const QString &command)
{
    if (!(isIdle() || m_planner.isJogging()))
        return IdleError;
    GcodeBlock block;
    if (const int status = block.parse(command))
        return status;
    for (int code : block.gCodes()) {
        if (code != 200 && code != 210 && code != 530 && code != 900 && code != 910)
            return InvalidJogCommand;
    }
    if (!block.mCodes().isEmpty() || block.has('I') || block.has('J') || block.has('K') || block.has('L')
        || block.has('P') || block.has('R') || block.has('S') || block.has('T'))
        return InvalidJogCommand;
    if (!block.has('F'))
        return UndefinedFeedRate;
    if (!block.hasAxisWord())
        return NoAxisWords;
    const bool inches = block.hasG(200) || (!block.hasG(210) && m_modal.inches);
    const bool incremental = block.hasG(910) || (!block.hasG(900) && m_modal.incremental);
    MotionPlanner::Block jog;
    jog.start = m_plannedPosition;
    jog.end = targetOf(block, inches, block.hasG(530), incremental);
    jog.feed = rateLimit(jog.start, jog.end, block.value('F') * (inches ? MmPerInch : 1.0));
    jog.jog = true;
    return queueMotion(jog, NoProgramFlow);
}

int SimulatedMachine::executeGcode(const QString &line)
{
    GcodeBlock block;
    if (const int status = block.parse(line))
        return status;
    // Switching the spindle or the coolant waits until every buffered move has ended, so the
    // line is answered only then and the lines behind it stay in the receive buffer meanwhile.
    const bool switches = modalMOf(block, SpindleCodes, m_modal.spindle) != m_modal.spindle
        || modalMOf(block, CoolantCodes, m_modal.coolant) != m_modal.coolant;
    if (!switches)
        return executeParsed(block);
    waitUntil([this] { return m_planner.isEmpty(); }, [this, block] { conclude(executeParsed(block)); });
    return Deferred;
}

int SimulatedMachine::executeParsed(const GcodeBlock &block)
{
    const Modal saved = m_modal;
    const int status = executeBlock(block);
    if (status > 0)
        m_modal = saved;
    return status;
}

void SimulatedMachine::applyModalWords(const GcodeBlock &block)
{
    for (int code : block.gCodes()) {
        switch (code) {
        case 170: case 180: case 190: m_modal.plane = code; break;
        case 200: m_modal.inches = true; break;
        case 210: m_modal.inches = false; break;
        case 900: m_modal.incremental = false; break;
        case 910: m_modal.incremental = true; break;
        case 540: case 550: case 560: case 570: case 580: case 590:
            m_modal.coordinateSystem = (code - 540) / 10;
            break;
        default: break;
        }
    }
    for (int code : block.mCodes()) {
        if (code == 30 || code == 40 || code == 50)
            m_modal.spindle = code / 10;
        else if (code == 70 || code == 80 || code == 90)
            m_modal.coolant = code / 10;
    }
    if (block.has('F'))
        m_modal.feed = block.value('F') * (m_modal.inches ? MmPerInch : 1.0);
    if (block.has('S'))
        m_modal.spindleSpeed = block.value('S');
    if (block.has('T'))
        m_modal.tool = int(block.value('T'));
}

int SimulatedMachine::executeBlock(const GcodeBlock &block)
{
    applyModalWords(block);
    const bool nonModalAxes = block.hasG(100) || block.hasG(280) || block.hasG(300) || block.hasG(920);
    const int explicitMotion = block.motion();
    if (nonModalAxes && explicitMotion >= 0)
        return AxisCommandConflict;
    if (explicitMotion >= 0)
        m_modal.motion = explicitMotion;
    const int flow = programFlowOf(block);
    if (block.hasG(40)) {
        if (!block.has('P'))
            return ValueWordMissing;
        return dwell(block.value('P'), flow);
    }
    if (nonModalAxes || block.hasG(281) || block.hasG(301) || block.hasG(921))
        return executeNonModal(block, flow);
    const bool moves = explicitMotion >= 0 || block.hasAxisWord();
    if (!moves)
        return endBlock(flow);
    const int motion = m_modal.motion;
    if (motion == 800)
        return block.hasAxisWord() ? AxisWordsExist : endBlock(flow);
    if (motion != 0 && m_modal.feed <= 0.0)
        return UndefinedFeedRate;
    if (block.hasG(530) && motion != 0 && motion != 10)
        return G53InvalidMotionMode;
    if (!block.hasAxisWord() && motion != 20 && motion != 30)
        return endBlock(flow);
    const Axes target = targetOf(block, m_modal.inches, block.hasG(530), m_modal.incremental);
    if (motion == 20 || motion == 30)
        return queueArc(block, target, flow);
    if (motion >= 382) {
        if (!block.hasAxisWord())
            return NoAxisWords;
        return probe(target, motion, flow);
    }
    MotionPlanner::Block move;
    move.start = m_plannedPosition;
    move.end = target;
    move.feed = rateLimit(move.start, move.end, motion == 0 ? std::numeric_limits<double>::infinity() : m_modal.feed);
    return queueMotion(move, flow);
}

int SimulatedMachine::executeNonModal(const GcodeBlock &block, int flow)
{
    const double unit = m_modal.inches ? MmPerInch : 1.0;
    if (block.hasG(100)) {
        const int l = int(block.value('L'));
        if (!block.has('L') || !block.has('P'))
            return ValueWordMissing;
        if (l != 2 && l != 20)
            return UnsupportedCommand;
        const int p = int(block.value('P'));
        if (p < 0 || p > 6)
            return UnsupportedCoordinateSystem;
        Axes *stored = &m_coordinateOffsets[p == 0 ? m_modal.coordinateSystem : p - 1];
        Axes offset = *stored;
        for (int axis = 0; axis < 3; ++axis) {
            const char letter = char('X' + axis);
            if (!block.has(letter))
                continue;
            const double value = block.value(letter) * unit;
            offset[axis] = l == 2 ? value : m_plannedPosition[axis] - m_g92Offset[axis] - value;
        }
        return writeEeprom([stored, offset] { *stored = offset; });
    }
    if (block.hasG(281) || block.hasG(301)) {
        Axes *stored = block.hasG(281) ? &m_g28Position : &m_g30Position;
        return writeEeprom([this, stored] { *stored = m_plannedPosition; });
    }
    if (block.hasG(921)) {
        m_g92Offset = Axes{};
        return endBlock(flow);
    }
    if (block.hasG(920)) {
        if (!block.hasAxisWord())
            return NoAxisWords;
        for (int axis = 0; axis < 3; ++axis) {
            const char letter = char('X' + axis);
            if (block.has(letter))
                m_g92Offset[axis] = m_plannedPosition[axis] - m_coordinateOffsets[m_modal.coordinateSystem][axis]
                    - block.value(letter) * unit;
        }
        return endBlock(flow);
    }
    // G28 / G30: through the optional intermediate point to the stored position, at rapid rate.
    const Axes home = block.hasG(280) ? m_g28Position : m_g30Position;
    if (block.hasAxisWord()) {
        MotionPlanner::Block via;
        via.start = m_plannedPosition;
        via.end = targetOf(block, m_modal.inches, false, m_modal.incremental);
        via.feed = rateLimit(via.start, via.end, std::numeric_limits<double>::infinity());
        queueBlock(via);
    }
    MotionPlanner::Block back;
    back.start = m_plannedPosition;
    back.end = home;
    back.feed = rateLimit(back.start, back.end, std::numeric_limits<double>::infinity());
    return queueMotion(back, flow);
}

int SimulatedMachine::queueArc(const GcodeBlock &block, const Axes &target, int flow)
{
    const double unit = m_modal.inches ? MmPerInch : 1.0;
    const bool clockwise = m_modal.motion == 20;
    MotionPlanner::Block arc;
    arc.start = m_plannedPosition;
    arc.end = target;
    arc.arc = true;
    arc.feed = m_modal.feed;
    const double dx = target[0] - arc.start[0], dy = target[1] - arc.start[1];
    if (block.has('R')) {
        if (!block.has('X') && !block.has('Y'))
            return NoAxisWordsInPlane;
        double radius = block.value('R') * unit;
        const double chord = std::hypot(dx, dy);
        const double h2 = 4.0 * radius * radius - dx * dx - dy * dy;
        if (chord == 0.0 || h2 < 0.0)
            return InvalidTarget;
        double h = -std::sqrt(h2) / chord;
        if (!clockwise)
            h = -h;
        if (radius < 0.0)
            h = -h;
        arc.center = {arc.start[0] + 0.5 * (dx - dy * h), arc.start[1] + 0.5 * (dy + dx * h), 0.0};
    } else {
        if (!block.has('I') && !block.has('J'))
            return NoOffsetsInPlane;
        arc.center = {arc.start[0] + block.value('I') * unit, arc.start[1] + block.value('J') * unit, 0.0};
        const double r1 = std::hypot(arc.start[0] - arc.center[0], arc.start[1] - arc.center[1]);
        const double r2 = std::hypot(target[0] - arc.center[0], target[1] - arc.center[1]);
        const double error = std::fabs(r1 - r2);
        if (error > 0.005 && (error > 0.5 || error > 0.001 * r1))
            return InvalidTarget;
    }
    const double a0 = std::atan2(arc.start[1] - arc.center[1], arc.start[0] - arc.center[0]);
    const double a1 = std::atan2(target[1] - arc.center[1], target[0] - arc.center[0]);
    double sweep = a1 - a0;
    if (clockwise && sweep >= -5e-7)
        sweep -= 2 * Pi;
    else if (!clockwise && sweep <= 5e-7)
        sweep += 2 * Pi;
    arc.sweep = sweep;
    arc.feed = rateLimit(arc.start, arc.end, m_modal.feed);
    return queueMotion(arc, flow);
}

// "ok" comes as soon as the block is in the planner; with the planner full it waits for a slot.
int SimulatedMachine::queueMotion(const MotionPlanner::Block &block, int flow)
{
    waitUntil([this] { return !m_planner.isFull(); }, [this, block, flow] {
        queueBlock(block);
        conclude(endBlock(flow));
    });
    return Deferred;
}

void SimulatedMachine::queueBlock(const MotionPlanner::Block &block)
{
    m_plannedPosition = block.end;
    if (m_checkMode)
        return;
    m_planner.append(block, nowUs());
    refreshMotion();
}

// Program pause and end wait for the motion before them; M0 then holds until "~".
int SimulatedMachine::endBlock(int flow)
{
    if (flow == NoProgramFlow)
        return Ok;
    waitUntil([this] { return m_planner.isEmpty(); }, [this, flow] {
        if (flow == ProgramPause) {
            m_held = true;
            waitUntil([this] { return !m_held; }, [this] { finishLine(Ok); });
            return;
        }
        m_modal = Modal{};
        finishLine(Ok);
    });
    return Deferred;
}

int SimulatedMachine::dwell(double seconds, int flow)
{
    waitUntil([this] { return m_planner.isEmpty(); }, [this, seconds, flow] {
        m_delayTimer->start(int(seconds * 1000.0 * m_config.timeScale));
        waitUntil([this] { return !m_delayTimer->isActive(); }, [this, flow] { conclude(endBlock(flow)); });
    });
    return Deferred;
}

// The probe runs once the planner is empty. Contact comes where the path meets the surface below
// the tool; a tool already below the surface is a triggered probe (ALARM:4), a path that ends
// above it a miss (ALARM:5 for G38.2/G38.4).
int SimulatedMachine::probe(const Axes &target, int motion, int flow)
{
    waitUntil([this] { return m_planner.isEmpty(); }, [this, target, motion, flow] {
        const Axes start = m_plannedPosition;
        const double surface = m_surface.heightAt(target[0], target[1]);
        const bool triggered = !m_probeMisses && start[2] < surface - 1e-6;
        const bool contact = !m_probeMisses && !triggered && target[2] <= surface && start[2] >= surface;
        Axes end = target;
        if (contact) {
            const double fraction = start[2] > target[2] ? (start[2] - surface) / (start[2] - target[2]) : 0.0;
            for (int axis = 0; axis < 3; ++axis)
                end[axis] = start[axis] + (target[axis] - start[axis]) * fraction;
            end[2] = surface;
        }
        if (!triggered) {
            MotionPlanner::Block move;
            move.start = start;
            move.end = end;
            move.feed = rateLimit(start, end, m_modal.feed);
            queueBlock(move);
        }
        waitUntil([this] { return m_planner.isEmpty(); }, [this, start, end, triggered, contact, motion, flow] {
            m_probePosition = triggered ? start : end;
            m_probeSucceeded = contact;
            const bool alarms = motion == 382 || motion == 384;
            if (triggered)
                raiseAlarm(ProbeInitialState, Lock::Alarm);
            else if (!contact && alarms)
                raiseAlarm(ProbeNoContact, Lock::Alarm);
            emit answer(QStringLiteral("[PRB:%1:%2]").arg(formatAxes(m_probePosition)).arg(contact ? 1 : 0));
            conclude(m_lock == Lock::None ? endBlock(flow) : Ok);
        });
    });
    return Deferred;
}

Axes SimulatedMachine::targetOf(const GcodeBlock &block, bool inches, bool machineCoordinates, bool incremental) const
{
    const double unit = inches ? MmPerInch : 1.0;
    const Axes offset = workOffset();
    Axes target = m_plannedPosition;
    for (int axis = 0; axis < 3; ++axis) {
        const char letter = char('X' + axis);
        if (!block.has(letter))
            continue;
        const double value = block.value(letter) * unit;
        if (machineCoordinates)
            target[axis] = value;
        else if (incremental)
            target[axis] += value;
        else
            target[axis] = value + offset[axis];
    }
    return target;
}

// The rate at which no axis exceeds its maximum ($110..$112).
double SimulatedMachine::rateLimit(const Axes &from, const Axes &to, double feed) const
{
    const double length = std::sqrt(std::pow(to[0] - from[0], 2) + std::pow(to[1] - from[1], 2)
                                    + std::pow(to[2] - from[2], 2));
    double rate = feed;
    for (int axis = 0; axis < 3; ++axis) {
        const double delta = std::fabs(to[axis] - from[axis]);
        if (delta > 0.0)
            rate = std::min(rate, m_settings.maxRate(axis) * length / delta);
    }
    return std::isfinite(rate) ? rate : m_settings.maxRate(0);
}

Axes SimulatedMachine::workOffset() const
{
    Axes offset = m_coordinateOffsets[m_modal.coordinateSystem];
    for (int axis = 0; axis < 3; ++axis)
        offset[axis] += m_g92Offset[axis];
    return offset;
}

void SimulatedMachine::refreshMotion()
{
    const qint64 now = nowUs();
    m_planner.advance(now);
    const qint64 next = m_planner.nextEventUs();
    if (next < 0) {
        m_motionTimer->stop();
        return;
    }
    m_motionTimer->start(int(std::max<qint64>(0, (next - now + 999) / 1000)));
}

void SimulatedMachine::waitUntil(std::function<bool()> condition, std::function<void()> then)
{
    if (condition()) {
        then();
        return;
    }
    m_waitCondition = std::move(condition);
    m_afterWait = std::move(then);
}

void SimulatedMachine::checkWaiting()
{
    refreshMotion();
    while (m_waitCondition && m_waitCondition()) {
        auto then = std::move(m_afterWait);
        m_waitCondition = nullptr;
        m_afterWait = nullptr;
        then();
    }
    if (acceptsLine())
        emit readyForInput();
}

void SimulatedMachine::abandonWaiting()
{
    m_waitCondition = nullptr;
    m_afterWait = nullptr;
    m_delayTimer->stop();
}

// ---- real-time commands and outside events ----

void SimulatedMachine::realtime(char byte)
{
    switch (static_cast<unsigned char>(byte)) {
    case '?':
        emit answer(statusReport());
        break;
    case '!':
        feedHold();
        break;
    case '~':
        cycleStart();
        break;
    case 0x18:
        softReset();
        break;
    case 0x84:
        openDoor();
        break;
    case 0x85:
        cancelJog();
        break;
    default:
        break;                          // overrides and the like are not simulated
    }
}

void SimulatedMachine::feedHold()
{
    if (m_lock != Lock::None || m_doorActive)
        return;
    if (m_planner.isJogging()) {
        cancelJog();
        return;
    }
    m_held = true;
    m_planner.hold(nowUs());
    refreshMotion();
}

void SimulatedMachine::cycleStart()
{
    if (m_lock != Lock::None || (m_doorActive && m_doorOpen))
        return;
    m_doorActive = false;
    m_held = false;
    m_planner.resume(nowUs());
    checkWaiting();
}

void SimulatedMachine::cancelJog()
{
    if (!m_planner.isJogging())
        return;
    m_planner.stop(nowUs());
    m_plannedPosition = m_planner.position(nowUs());
    checkWaiting();
}

void SimulatedMachine::openDoor()
{
    emit answer(QStringLiteral("[MSG:Check Door]"));
    if (m_lock != Lock::None || m_doorActive)
        return;
    m_doorActive = true;
    if (m_planner.isJogging()) {
        cancelJog();
        return;
    }
    m_planner.hold(nowUs());
    refreshMotion();
}

void SimulatedMachine::setDoorOpen(bool open)
{
    if (open == m_doorOpen)
        return;
    m_doorOpen = open;
    if (open)
        openDoor();
}

void SimulatedMachine::triggerHardLimit()
{
    abandonWaiting();
    raiseAlarm(HardLimit, Lock::ResetRequired);
    emit answer(QStringLiteral("[MSG:Reset to continue]"));
}

void SimulatedMachine::raiseAlarm(int code, Lock lock)
{
    m_planner.stop(nowUs());
    m_plannedPosition = m_planner.position(nowUs());
    refreshMotion();
    m_held = false;
    m_homing = false;
    m_lock = lock;
    emit answer(QStringLiteral("ALARM:%1").arg(code));
}

// A reset during motion loses the position: the machine comes back locked.
void SimulatedMachine::softReset()
{
    const bool moving = !m_planner.isEmpty() || m_homing;
    abandonWaiting();
    if (moving)
        raiseAlarm(AbortCycle, Lock::Alarm);
    else if (m_lock == Lock::ResetRequired)
        m_lock = Lock::Alarm;
    m_held = false;
    m_doorActive = m_doorOpen && m_lock == Lock::None;
    m_checkMode = false;
    m_modal = Modal{};
    m_g92Offset = Axes{};
    m_reportCounter = 0;
    emit receiveBufferFlushed();
    printBanner();
    if (m_lock == Lock::Alarm)
        emit answer(QStringLiteral("[MSG:'$H'|'$X' to unlock]"));
    if (acceptsLine())
        emit readyForInput();
}

// ---- reports ----

QString SimulatedMachine::stateName() const
{
    if (m_lock != Lock::None)
        return QStringLiteral("Alarm");
    if (m_doorActive)
        return m_doorOpen ? QStringLiteral("Door:1") : QStringLiteral("Door:0");
    if (m_held)
        return QStringLiteral("Hold:0");
    if (m_homing)
        return QStringLiteral("Home");
    if (m_planner.isJogging())
        return QStringLiteral("Jog");
    if (!m_planner.isEmpty())
        return QStringLiteral("Run");
    if (m_checkMode)
        return QStringLiteral("Check");
    return QStringLiteral("Idle");
}

// Work offsets and overrides are not in every report, as on the real controller.
QString SimulatedMachine::statusReport()
{
    refreshMotion();
    const Axes position = m_planner.position(nowUs());
    const Axes offset = workOffset();
    QString report = QLatin1Char('<') + stateName();
    if (m_settings.reportsMachinePosition()) {
        report += QStringLiteral("|MPos:") + formatAxes(position);
    } else {
        Axes work{};
        for (int axis = 0; axis < 3; ++axis)
            work[axis] = position[axis] - offset[axis];
        report += QStringLiteral("|WPos:") + formatAxes(work);
    }
    const double spindle = m_modal.spindle == 5 ? 0.0 : m_modal.spindleSpeed;
    report += QStringLiteral("|FS:%1,%2").arg(std::lround(m_planner.currentFeed())).arg(std::lround(spindle));
    if (m_doorOpen)
        report += QStringLiteral("|Pn:D");
    const int counter = m_reportCounter++ % 10;
    if (counter == 0)
        report += QStringLiteral("|WCO:") + formatAxes(offset);
    else if (counter == 1)
        report += QStringLiteral("|Ov:100,100,100");
    return report + QLatin1Char('>');
}

QString SimulatedMachine::parserState() const
{
    const int motion = m_modal.motion;
    const QString motionText = motion % 10 == 0 ? QString::number(motion / 10)
                                                : QStringLiteral("%1.%2").arg(motion / 10).arg(motion % 10);
    const double unit = m_modal.inches ? MmPerInch : 1.0;
    return QStringLiteral("[GC:G%1 G%2 G%3 G%4 G%5 G94 M%6 M%7 T%8 F%9 S%10]")
        .arg(motionText)
        .arg(54 + m_modal.coordinateSystem)
        .arg(m_modal.plane / 10)
        .arg(m_modal.inches ? 20 : 21)
        .arg(m_modal.incremental ? 91 : 90)
        .arg(m_modal.spindle)
        .arg(m_modal.coolant)
        .arg(m_modal.tool)
        .arg(std::lround(m_modal.feed / unit))
        .arg(std::lround(m_modal.spindleSpeed));
}

QString SimulatedMachine::formatAxes(const Axes &axes)
{
    QStringList parts;
    for (double value : axes)
        parts << QString::number(std::fabs(value) < 0.0005 ? 0.0 : value, 'f', 3);
    return parts.join(QLatin1Char(','));
}
