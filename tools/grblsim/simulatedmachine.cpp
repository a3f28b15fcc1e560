#include "tools/grblsim/simulatedmachine.h"

#include "tools/grblsim/arcpath.h"
#include "tools/grblsim/motionlog.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
enum Status {
    Ok = 0, BadNumberFormat = 2, InvalidStatement = 3, SettingDisabled = 5, IdleError = 8, SystemGcLock = 9, Overflow = 11,
    CheckDoor = 13, TravelExceeded = 15, Deferred = -1,
};
enum Alarm { HardLimit = 1, SoftLimit = 2, AbortCycle = 3, ProbeFailInitial = 4, ProbeFailContact = 5, HomingFailReset = 6 };

// The stages of GRBL's execution of one block, in the firmware's order.
enum Stage { SpindleStage, CoolantStage, DwellStage, NonModalStage, MotionStage, FlowStage, StageCount };

constexpr int LineBufferSize = 80;          // GRBL keeps at most 79 characters of a stripped line
constexpr double MmPerInch = 25.4;
constexpr qint64 ReportSpacingUs = 1000;    // status requests within a millisecond share one report
constexpr double SpindleRestartSeconds = 4.0;
constexpr double CoolantRestartSeconds = 1.0;
constexpr unsigned ZBit = 4, XYBits = 3;
// At power-up the head rests this far below each limit switch (the machine was left there).
constexpr double ParkedBelowSwitches = 10.0;

// The main loop's filter: blanks, control characters, "/" and comments go, letters become upper
// case, and a line whose 80th kept character arrives is marked as overflowing.
QString strippedLine(const QByteArray &raw, bool *overflow)
{
    QString line;
    bool parenthesis = false, semicolon = false;
    *overflow = false;
    for (const char ch : raw) {
        const auto c = static_cast<unsigned char>(ch);
        if (parenthesis || semicolon || *overflow) {
            parenthesis = parenthesis && c != ')';
            continue;
        }
        if (c <= ' ' || c == '/')
            continue;
        if (c == '(')
            parenthesis = true;
        else if (c == ';')
            semicolon = true;
        else if (line.size() >= LineBufferSize - 1)
            *overflow = true;
        else
            line += QChar::fromLatin1(char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    return line;
}

double distance(const Axes &a, const Axes &b)
{
    return std::hypot(b[0] - a[0], b[1] - a[1], b[2] - a[2]);
}

template<typename T>
T take(T &value)
{
    T taken = std::move(value);
    value = T();
    return taken;
}
}

SimulatedMachine::SimulatedMachine(const Config &config, MotionLog *log, QObject *parent)
    : QObject(parent)
    , m_config(config)
    , m_log(log)
    , m_planner(m_settings)
    , m_surface(config.surface)
    , m_motionTimer(new QTimer(this))
    , m_delayTimer(new QTimer(this))
    , m_pauseTimer(new QTimer(this))
    , m_reportTimer(new QTimer(this))
    , m_doorTimer(new QTimer(this))
{
    for (QTimer *timer : {m_motionTimer, m_delayTimer, m_pauseTimer, m_reportTimer, m_doorTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(m_motionTimer, &QTimer::timeout, this, &SimulatedMachine::settle);
    connect(m_delayTimer, &QTimer::timeout, this, &SimulatedMachine::settle);
    connect(m_reportTimer, &QTimer::timeout, this, &SimulatedMachine::settle);
    connect(m_pauseTimer, &QTimer::timeout, this, &SimulatedMachine::endAlarmPause);
    connect(m_doorTimer, &QTimer::timeout, this, &SimulatedMachine::doorRestored);
    m_settings.writeAll(config.storedSettings);
    m_switches = {ParkedBelowSwitches, ParkedBelowSwitches, ParkedBelowSwitches};
    m_planner.setFinishedHandler([this](const SimulatedMotion &motion) { motionFinished(motion); });
    m_planner.setContactHandler([this](const Axes &position) { probeContact(position); });
    m_clock.start();
}

// ---- power and the main loop ----

void SimulatedMachine::powerUp()
{
    m_powered = true;
    reinitialise(true);
}

// The board loses power: everything but the EEPROM is gone, and the step counters start again
// from zero wherever the head happens to stand.
void SimulatedMachine::restart()
{
    m_powered = false;
    for (QTimer *timer : {m_motionTimer, m_delayTimer, m_pauseTimer, m_reportTimer, m_doorTimer})
        timer->stop();
    abandonWaiting();
    m_planner.stop();
    const Axes position = m_planner.position();
    for (int axis = 0; axis < 3; ++axis)
        m_switches[axis] -= position[axis];
    m_planner.setPosition(Axes{});
    m_plannedPosition = Axes{};
    m_onFinished = nullptr;
    m_lineInWork = m_aborting = m_halted = false;
    m_resetRequested = false;
    m_pendingAlarm = 0;
    m_state = State::Idle;
}

bool SimulatedMachine::takesCharacters() const
{
    return m_powered && !m_lineInWork && !m_aborting && !m_halted && !m_resetRequested && m_pendingAlarm == 0
        && !m_pauseTimer->isActive();
}

bool SimulatedMachine::isSuspended() const
{
    return m_state == State::Hold || m_state == State::Door || m_state == State::Sleep || m_jogCancel;
}

// The main loop's check point: alarms first, then a reset, then the other real-time commands,
// then whatever the line in work was waiting for.
void SimulatedMachine::settle()
{
    if (!m_powered || m_pauseTimer->isActive() || m_halted)
        return;
    refreshMotion();
    if (m_pendingAlarm) {
        raiseAlarm(m_pendingAlarm);
        return;
    }
    if (m_resetRequested || m_aborting) {
        abort();
        return;
    }
    serveRealtime();
    checkWaiting();
}

void SimulatedMachine::executeLine(const QByteArray &rawLine)
{
    const QString raw = QString::fromLatin1(rawLine);
    if (DriverRegisters::isRequest(raw)) {
        emit answer(m_drivers.reply(raw));
        return;
    }
    bool overflow = false;
    const QString line = strippedLine(rawLine, &overflow);
    startLine(raw, [this](int status) { answerLine(status); });
    int status = Ok;
    if (overflow)
        status = Overflow;
    else if (line.isEmpty())
        status = Ok;
    else if (line.startsWith(QLatin1Char('$')))
        status = executeSystemCommand(line);
    else if (m_state == State::Alarm || m_state == State::Jog)
        status = SystemGcLock;
    else
        status = executeGcode(line);
    if (status != Deferred)
        finish(status);
}

void SimulatedMachine::startLine(const QString &text, std::function<void(int)> onFinished)
{
    m_line = text;
    m_lineInWork = true;
    m_onFinished = std::move(onFinished);
}

void SimulatedMachine::finish(int status)
{
    if (auto onFinished = take(m_onFinished))
        onFinished(status);
}

void SimulatedMachine::answerLine(int status)
{
    emit answer(statusText(status));
    m_log->addLine({m_line, statusText(status), m_gc.position, workOffset()});
    lineDone();
}

// After a reset the line in work still gets its answer; only then does the controller start again.
void SimulatedMachine::lineDone()
{
    m_lineInWork = false;
    if (m_aborting)
        reinitialise(false);
    else
        emit readyForInput();
}

QString SimulatedMachine::statusText(int status)
{
    return status == Ok ? QStringLiteral("ok") : QStringLiteral("error:%1").arg(status);
}

// ---- system commands ----

int SimulatedMachine::executeSystemCommand(const QString &line)
{
    if (line.size() == 1) {
        emit answer(QStringLiteral("[HLP:$$ $# $G $I $N $x=val $Nx=line $J=line $SLP $C $X $H ~ ! ? ctrl-x]"));
        return Ok;
    }
    const QChar command = line.at(1);
    if (command == QLatin1Char('J')) {
        if (m_state != State::Idle && m_state != State::Jog)
            return IdleError;
        return line.size() > 2 && line.at(2) == QLatin1Char('=') ? executeGcode(line, true) : InvalidStatement;
    }
    if (QStringLiteral("$GCX").contains(command))
        return line.size() == 2 ? executeStateCommand(command) : InvalidStatement;
    if (m_state != State::Idle && m_state != State::Alarm)
        return IdleError;
    return executeIdleCommand(line);
}

// "$$", "$G", "$C" and "$X", which GRBL takes in any state.
int SimulatedMachine::executeStateCommand(QChar command)
{
    if (command == QLatin1Char('G')) {
        emit answer(parserState());
        return Ok;
    }
    if (command == QLatin1Char('C'))
        return toggleCheckMode();
    if (command == QLatin1Char('X'))
        return unlock();
    // Printing the settings would starve the step generation, so not while moving.
    if (m_state == State::Cycle || m_state == State::Hold)
        return IdleError;
    for (const QString &entry : m_settings.listing())
        emit answer(entry);
    return Ok;
}

// The commands for an idle or locked controller: parameters, homing, sleep, build info, restore,
// startup blocks and settings.
int SimulatedMachine::executeIdleCommand(const QString &line)
{
    const QChar command = line.at(1);
    const bool bare = line.size() == 2;
    if (command == QLatin1Char('#')) {
        if (!bare)
            return InvalidStatement;
        reportParameters();
        return Ok;
    }
    if (command == QLatin1Char('H')) {
        if (!m_settings.homingEnabled())
            return SettingDisabled;
        if (m_doorOpen)
            return CheckDoor;
        return bare ? startHoming() : InvalidStatement;
    }
    if (command == QLatin1Char('S'))
        return line == QLatin1String("$SLP") ? sleep() : InvalidStatement;
    if (command == QLatin1Char('I')) {
        if (bare) {
            emit answer(QStringLiteral("[VER:1.1h.20190830:%1]").arg(m_buildInfo));
            emit answer(QStringLiteral("[OPT:V,%1,128]").arg(MotionPlanner::Capacity));
            return Ok;
        }
        if (line.at(2) != QLatin1Char('='))
            return InvalidStatement;
        const QString info = line.mid(3);
        return writeEeprom([this, info] { m_buildInfo = info; });
    }
    if (command == QLatin1Char('R'))
        return line.size() == 6 && line.startsWith(QLatin1String("$RST=")) ? restoreDefaults(line.at(5)) : InvalidStatement;
    if (command == QLatin1Char('N') && bare) {
        for (int i = 0; i < 2; ++i)
            emit answer(QStringLiteral("$N%1=%2").arg(i).arg(m_startupLines[i]));
        return Ok;
    }
    return executeSetting(line);
}

// "$n=value" and "$Nn=block", read as the firmware reads them.
int SimulatedMachine::executeSetting(const QString &line)
{
    const bool startupLine = line.at(1) == QLatin1Char('N');
    if (startupLine && m_state != State::Idle)
        return IdleError;
    int pos = startupLine ? 2 : 1;
    float parameter = 0.0f;
    if (!GcodeBlock::readNumber(line, &pos, &parameter))
        return BadNumberFormat;
    if (pos >= line.size() || line.at(pos) != QLatin1Char('='))
        return InvalidStatement;
    ++pos;
    if (startupLine)
        return parameter >= 0.0f && parameter < 2.0f ? storeStartupLine(int(parameter), line.mid(pos)) : InvalidStatement;
    float value = 0.0f;
    if (!GcodeBlock::readNumber(line, &pos, &value))
        return BadNumberFormat;
    if (pos != line.size() || parameter > 255.0f || parameter < 0.0f)
        return InvalidStatement;
    if (const int status = m_settings.write(int(parameter), value))
        return status;
    return writeEeprom({});
}

// A startup block is run once to prove it valid, then stored.
int SimulatedMachine::storeStartupLine(int index, const QString &block)
{
    auto answerStore = take(m_onFinished);
    m_onFinished = [this, index, block, answerStore](int status) {
        m_onFinished = answerStore;
        if (status == Ok)
            writeEeprom([this, index, block] { m_startupLines[index] = block; });
        else
            finish(status);
    };
    const int status = executeGcode(block);
    if (status != Deferred)
        finish(status);
    return Deferred;
}

// Restoring answers "ok" and then resets, so that the controller starts over with the new values.
int SimulatedMachine::restoreDefaults(QChar what)
{
    const bool settings = what == QLatin1Char('$') || what == QLatin1Char('*');
    const bool parameters = what == QLatin1Char('#') || what == QLatin1Char('*');
    const bool everything = what == QLatin1Char('*');
    if (!settings && !parameters)
        return InvalidStatement;
    return writeEeprom([this, settings, parameters, everything] {
        if (settings)
            m_settings.restoreDefaults();
        if (parameters)
            m_stored = StoredCoordinates();
        if (everything) {
            m_startupLines[0].clear();
            m_startupLines[1].clear();
            m_buildInfo.clear();
        }
        emit answer(QStringLiteral("[MSG:Restoring defaults]"));
        requestReset();
    });
}

int SimulatedMachine::writeEeprom(std::function<void()> store)
{
    writeEepromThen(std::move(store), [this] { finish(Ok); });
    return Deferred;
}

// The write waits for the motion before it; while the EEPROM is written the controller ignores
// its serial port.
void SimulatedMachine::writeEepromThen(std::function<void()> store, std::function<void()> then)
{
    afterSync([this, store, then] {
        if (store)
            store();
        emit eepromWriteStarted(m_config.eepromWriteMs);
        m_delayTimer->start(m_config.eepromWriteMs);
        waitUntil([this] { return !m_delayTimer->isActive(); }, then, true);
    });
}

// Only a locked controller says that it unlocked; otherwise "$X" changes nothing.
int SimulatedMachine::unlock()
{
    if (m_state != State::Alarm)
        return Ok;
    if (m_doorOpen)
        return CheckDoor;
    emit answer(QStringLiteral("[MSG:Caution: Unlocked]"));
    m_state = State::Idle;
    return Ok;
}

// Leaving check mode resets the controller, as GRBL does, to start from a clean state.
int SimulatedMachine::toggleCheckMode()
{
    if (m_state == State::Check) {
        requestReset();
        emit answer(QStringLiteral("[MSG:Disabled]"));
        return Ok;
    }
    if (m_state != State::Idle)
        return IdleError;
    m_state = State::Check;
    emit answer(QStringLiteral("[MSG:Enabled]"));
    return Ok;
}

int SimulatedMachine::sleep()
{
    m_sleepRequested = true;
    return Ok;
}

void SimulatedMachine::reportParameters()
{
    const bool inches = m_settings.reportsInches();
    for (int i = 0; i < 6; ++i)
        emit answer(QStringLiteral("[G%1:%2]").arg(54 + i).arg(StatusReporter::axes(m_stored.systems[i], inches)));
    emit answer(QStringLiteral("[G28:%1]").arg(StatusReporter::axes(m_stored.g28, inches)));
    emit answer(QStringLiteral("[G30:%1]").arg(StatusReporter::axes(m_stored.g30, inches)));
    emit answer(QStringLiteral("[G92:%1]").arg(StatusReporter::axes(m_gc.coordinateOffset, inches)));
    emit answer(QStringLiteral("[TLO:%1]").arg(inches ? StatusReporter::number(m_gc.toolLengthOffset / MmPerInch, 4)
                                                      : StatusReporter::number(m_gc.toolLengthOffset, 3)));
    emit answer(QStringLiteral("[PRB:%1:%2]").arg(StatusReporter::axes(m_probePosition, inches)).arg(m_probeSucceeded ? 1 : 0));
}

// Each stored block runs as G-code and is echoed as ">block:ok" (or ":error:N").
void SimulatedMachine::runStartupLines(std::function<void()> then)
{
    m_startupQueue.clear();
    for (const QString &block : m_startupLines) {
        if (!block.isEmpty())
            m_startupQueue << block;
    }
    m_afterStartup = [this, line = m_line, onFinished = m_onFinished, then] {
        m_line = line;
        m_onFinished = onFinished;
        then();
    };
    runNextStartupLine();
}

void SimulatedMachine::runNextStartupLine()
{
    if (m_startupQueue.isEmpty()) {
        if (auto then = take(m_afterStartup))
            then();
        return;
    }
    const QString block = m_startupQueue.takeFirst();
    startLine(block, [this, block](int status) {
        emit answer(QLatin1Char('>') + block + QLatin1Char(':') + statusText(status));
        runNextStartupLine();
    });
    const int status = executeGcode(block);
    if (status != Deferred)
        finish(status);
}

// ---- G-code ----

int SimulatedMachine::executeGcode(const QString &line, bool jog)
{
    if (const int status = m_block.parse(line, m_gc, m_stored, jog))
        return status;
    if (jog)
        return executeJog();
    m_stage = SpindleStage;
    continueBlock();
    return Deferred;
}

void SimulatedMachine::continueBlock()
{
    while (m_stage < StageCount) {
        if (!runStage(m_stage++))
            return;
    }
    finish(Ok);
}

// Each stage returns false when it has to wait; whatever it waits for calls continueBlock() again.
bool SimulatedMachine::runStage(int stage)
{
    switch (stage) {
    case SpindleStage:
        return syncSpindle();
    case CoolantStage:
        return syncCoolant();
    case DwellStage:
        return dwell();
    case NonModalStage:
        applyModes();
        return applyNonModal();
    case MotionStage:
        return startMotion();
    default:
        return programFlow();
    }
}

// Starting, stopping or changing the speed of a running spindle waits until all motion has ended.
bool SimulatedMachine::syncSpindle()
{
    m_gc.modal.inverseTime = m_block.modal.inverseTime;
    m_gc.feed = m_block.feed;
    m_gc.tool = m_block.tool;
    const bool speedChanges = m_gc.spindleSpeed != m_block.spindleSpeed && m_gc.modal.spindle != 5;
    const bool switches = m_gc.modal.spindle != m_block.modal.spindle;
    const auto apply = [this] {
        m_gc.spindleSpeed = m_block.spindleSpeed;
        m_gc.modal.spindle = m_block.modal.spindle;
    };
    if (m_state == State::Check || !(speedChanges || switches)) {
        apply();
        return true;
    }
    afterSync([this, apply] {
        apply();
        m_reporter.refreshOverrides();
        continueBlock();
    });
    return false;
}

bool SimulatedMachine::syncCoolant()
{
    if (m_gc.modal.flood == m_block.modal.flood)
        return true;
    if (m_state == State::Check) {
        m_gc.modal.flood = m_block.modal.flood;
        return true;
    }
    afterSync([this] {
        m_gc.modal.flood = m_block.modal.flood;
        m_reporter.refreshOverrides();
        continueBlock();
    });
    return false;
}

bool SimulatedMachine::dwell()
{
    if (m_block.nonModal != GcodeBlock::Dwell || m_state == State::Check)
        return true;
    afterSync([this] { waitFor(m_block.p, [this] { continueBlock(); }); });
    return false;
}

void SimulatedMachine::applyModes()
{
    m_gc.modal.plane = m_block.modal.plane;
    m_gc.modal.inches = m_block.modal.inches;
    if (m_block.axisCommand == GcodeBlock::ToolLengthAxes) {
        m_gc.modal.dynamicToolLength = m_block.modal.dynamicToolLength;
        const double offset = m_block.modal.dynamicToolLength ? m_block.target[2] : 0.0;
        if (offset != m_gc.toolLengthOffset) {
            m_gc.toolLengthOffset = offset;
            m_reporter.refreshWorkOffset();
        }
    }
    if (m_gc.modal.coordinateSystem != m_block.modal.coordinateSystem) {
        m_gc.modal.coordinateSystem = m_block.modal.coordinateSystem;
        m_gc.coordinateSystem = m_block.blockCoordinateSystem;
        m_reporter.refreshWorkOffset();
    }
    m_gc.modal.incremental = m_block.modal.incremental;
}

bool SimulatedMachine::applyNonModal()
{
    switch (m_block.nonModal) {
    case GcodeBlock::SetCoordinateData:
        writeEepromThen([this] {
            m_stored.systems[m_block.coordinateIndex] = m_block.offsets;
            if (m_gc.modal.coordinateSystem == m_block.coordinateIndex) {
                m_gc.coordinateSystem = m_block.offsets;
                m_reporter.refreshWorkOffset();
            }
        }, [this] { continueBlock(); });
        return false;
    case GcodeBlock::GoHome0:
    case GcodeBlock::GoHome1: {
        std::deque<Move> moves;
        Axes from = m_gc.position;
        if (m_block.axisCommand) {
            moves.push_back(makeMove(SimulatedMotion::Kind::Rapid, from, m_block.target));
            from = m_block.target;
        }
        moves.push_back(makeMove(SimulatedMotion::Kind::Rapid, from, m_block.offsets));
        queueMoves(moves, [this] {
            m_gc.position = m_block.offsets;
            continueBlock();
        });
        return false;
    }
    case GcodeBlock::SetHome0:
    case GcodeBlock::SetHome1: {
        Axes *stored = m_block.nonModal == GcodeBlock::SetHome0 ? &m_stored.g28 : &m_stored.g30;
        writeEepromThen([this, stored] { *stored = m_gc.position; }, [this] { continueBlock(); });
        return false;
    }
    case GcodeBlock::SetCoordinateOffset:
        m_gc.coordinateOffset = m_block.target;
        m_reporter.refreshWorkOffset();
        return true;
    case GcodeBlock::ResetCoordinateOffset:
        m_gc.coordinateOffset = Axes{};
        m_reporter.refreshWorkOffset();
        return true;
    default:
        return true;
    }
}

bool SimulatedMachine::startMotion()
{
    m_gc.modal.motion = m_block.modal.motion;
    const int motion = m_gc.modal.motion;
    if (motion == GcodeState::NoMotion || m_block.axisCommand != GcodeBlock::MotionAxes)
        return true;
    if (motion >= GcodeState::ProbeToward)
        return probe();
    std::deque<Move> moves;
    if (motion == GcodeState::CwArc || motion == GcodeState::CcwArc)
        moves = arcMoves();
    else
        moves.push_back(makeMove(motion == GcodeState::Seek ? SimulatedMotion::Kind::Rapid : SimulatedMotion::Kind::Feed,
                                 m_gc.position, m_block.target));
    queueMoves(moves, [this] {
        m_gc.position = m_block.target;
        continueBlock();
    });
    return false;
}

// The chords of the arc, each knowing the arc it belongs to. In inverse time (G93) the whole arc
// takes 1/F minutes, so every chord runs at the same speed.
std::deque<SimulatedMachine::Move> SimulatedMachine::arcMoves() const
{
    const GcodeBlock &b = m_block;
    const ArcPath arc(m_gc.position, b.target, b.offsets, b.radius, b.axis0, b.axis1, b.linearAxis, b.clockwise,
                      m_settings.arcTolerance());
    Axes centre = m_gc.position;
    centre[b.axis0] += b.offsets[b.axis0];
    centre[b.axis1] += b.offsets[b.axis1];
    const double length = std::hypot(std::abs(arc.sweep) * b.radius, b.target[b.linearAxis] - m_gc.position[b.linearAxis]);
    std::deque<Move> moves;
    Axes from = m_gc.position;
    for (const Axes &point : arc.points) {
        Move move = makeMove(SimulatedMotion::Kind::Feed, from, point);
        move.motion.arc = true;
        move.motion.arcCentre = centre;
        move.motion.arcSweep = arc.sweep;
        move.motion.arcPlane = 17 + m_gc.modal.plane;
        if (m_gc.modal.inverseTime)
            move.motion.feed = b.feed * length;
        moves.push_back(move);
        from = point;
    }
    return moves;
}

SimulatedMachine::Move SimulatedMachine::makeMove(SimulatedMotion::Kind kind, const Axes &from, const Axes &target) const
{
    Move move;
    move.target = target;
    move.motion.kind = kind;
    move.motion.feed = m_gc.modal.inverseTime && !m_block.jog ? m_block.feed * distance(from, target) : m_block.feed;
    move.motion.spindle = m_gc.modal.spindle;
    move.motion.spindleSpeed = m_gc.spindleSpeed;
    move.motion.line = m_line;
    return move;
}

// M0 pauses like a feed hold once the motion before it has ended and answers when resumed;
// M2 and M30 wait for the motion, reset part of the modal state and say so.
bool SimulatedMachine::programFlow()
{
    const int flow = m_block.modal.programFlow;
    if (flow == GcodeState::Running)
        return true;
    afterSync([this, flow] {
        if (flow == GcodeState::Pause) {
            if (m_state != State::Check) {
                m_state = State::Hold;
                waitUntil([this] { return m_state != State::Hold; }, [this] { finish(Ok); });
                return;
            }
        } else {
            GcodeState::Modal &modal = m_gc.modal;
            modal.motion = GcodeState::Linear;
            modal.plane = GcodeState::XY;
            modal.incremental = false;
            modal.inverseTime = false;
            modal.coordinateSystem = 0;
            modal.spindle = 5;
            modal.flood = false;
            m_feedOverride = m_rapidOverride = m_spindleOverride = 100;
            m_planner.setOverrides(100, 100);
            if (m_state != State::Check) {
                m_gc.coordinateSystem = m_stored.systems[0];
                m_reporter.refreshWorkOffset();
            }
            emit answer(QStringLiteral("[MSG:Pgm End]"));
        }
        finish(Ok);
    });
    return false;
}

int SimulatedMachine::executeJog()
{
    if (m_settings.softLimitsEnabled() && outsideTravel(m_block.target))
        return TravelExceeded;
    const Move move = makeMove(SimulatedMotion::Kind::Jog, m_gc.position, m_block.target);
    m_gc.position = m_block.target;
    queueMoves({move}, [this] { finish(Ok); });
    return Deferred;
}

void SimulatedMachine::queueMoves(std::deque<Move> moves, std::function<void()> then)
{
    m_moves = std::move(moves);
    m_afterMoves = std::move(then);
    queueNextMove();
}

// GRBL's mc_line for each move: soft limits first, then a free planner slot (the answer to the
// line waits meanwhile), then into the plan.
void SimulatedMachine::queueNextMove()
{
    while (!m_moves.empty()) {
        Move &move = m_moves.front();
        if (!move.checked) {
            move.checked = true;
            if (m_settings.softLimitsEnabled() && m_state != State::Jog && outsideTravel(move.target)) {
                softLimit();
                return;
            }
        }
        if (m_state != State::Check && m_planner.isFull()) {
            waitUntil([this] { return !m_planner.isFull(); }, [this] { queueNextMove(); });
            return;
        }
        const Move next = move;
        m_moves.pop_front();
        if (m_state != State::Check)
            planMove(next);
    }
    if (auto then = take(m_afterMoves))
        then();
}

void SimulatedMachine::planMove(const Move &move, double contactDistance)
{
    refreshMotion();
    SimulatedMotion motion = move.motion;
    motion.start = m_plannedPosition;
    motion.end = toSteps(move.target);
    if (m_planner.append(motion, simNow(), contactDistance)) {
        m_plannedPosition = motion.end;
        if (m_state == State::Idle)
            m_state = motion.kind == SimulatedMotion::Kind::Jog ? State::Jog : State::Cycle;
    }
    refreshMotion();
}

// Machine space runs from 0 down to minus the travel on each axis.
bool SimulatedMachine::outsideTravel(const Axes &target) const
{
    for (int axis = 0; axis < 3; ++axis) {
        if (target[axis] > 0.0 || target[axis] < -m_settings.maxTravel(axis))
            return true;
    }
    return false;
}

// A target beyond the travel: the machine comes to a controlled stop (keeping its position), then
// halts with ALARM:2 until a reset; the line's "ok" comes with that reset.
void SimulatedMachine::softLimit()
{
    const auto halt = [this] {
        m_state = State::Idle;
        requestReset();
        raiseAlarm(SoftLimit);
    };
    if (m_state != State::Cycle) {
        halt();
        return;
    }
    m_state = State::Hold;
    m_planner.hold();
    waitUntil([this] { return !m_planner.isDecelerating(); }, halt, true);
}

// GRBL's probing cycle: after all motion has ended, a probe already in contact (or, probing away,
// already free) is ALARM:4; otherwise the move runs until the contact changes, decelerates from
// there, and the contact position is reported. A move that never gets there is ALARM:5 (not for
// G38.3/G38.5) and reports the previous contact position.
bool SimulatedMachine::probe()
{
    if (m_state == State::Check) {
        m_gc.position = m_block.target;
        return true;
    }
    afterSync([this] {
        const Axes start = m_plannedPosition;
        const Axes end = toSteps(m_block.target);
        const bool touching = !m_probeMisses && m_surface.touches(start);
        if (touching != m_block.probeAway) {
            raiseAlarm(ProbeFailInitial, [this] { continueBlock(); });
            return;
        }
        const double fraction = m_probeMisses ? -1.0 : m_surface.changeFraction(start, end);
        m_probeTouched = false;
        planMove(makeMove(SimulatedMotion::Kind::Probe, start, m_block.target),
                 fraction < 0.0 ? -1.0 : fraction * distance(start, end));
        waitUntil([this] { return m_planner.isEmpty(); }, [this] { finishProbe(m_probeTouched); });
    });
    return false;
}

void SimulatedMachine::finishProbe(bool contact)
{
    syncPosition();
    m_probeSucceeded = contact;
    const auto report = [this, contact] {
        emit answer(QStringLiteral("[PRB:%1:%2]").arg(StatusReporter::axes(m_probePosition, m_settings.reportsInches()))
                        .arg(contact ? 1 : 0));
        m_gc.position = contact ? m_plannedPosition : m_block.target;
        continueBlock();
    };
    if (contact || m_block.probeNoError) {
        if (!contact)
            m_probePosition = m_plannedPosition;
        report();
        return;
    }
    raiseAlarm(ProbeFailContact, report);
}

void SimulatedMachine::probeContact(const Axes &position)
{
    m_probeTouched = true;
    m_probePosition = toSteps(position);
}

// A motion cut short stops between steps; the step counters hold the nearest step.
Axes SimulatedMachine::syncPosition()
{
    m_plannedPosition = toSteps(m_planner.position());
    m_planner.setPosition(m_plannedPosition);
    return m_plannedPosition;
}

Axes SimulatedMachine::toSteps(const Axes &position) const
{
    Axes steps = position;
    for (int axis = 0; axis < 3; ++axis) {
        const double perMm = m_settings.stepsPerMm(axis);
        if (perMm > 0.0)
            steps[axis] = std::round(position[axis] * perMm) / perMm;
    }
    return steps;
}

Axes SimulatedMachine::workOffset() const
{
    Axes offset{};
    for (int axis = 0; axis < 3; ++axis)
        offset[axis] = m_gc.coordinateSystem[axis] + m_gc.coordinateOffset[axis];
    offset[2] += m_gc.toolLengthOffset;
    return offset;
}

// ---- homing ----

int SimulatedMachine::startHoming()
{
    m_state = State::Homing;
    homeCycle(ZBit, 0, [this] { homeCycle(XYBits, 0, [this] { finishHoming(); }); });
    return Deferred;
}

// One homing cycle for the given axes: seek the switches, pull off, approach them again slowly,
// pull off again; each phase ends with the switches' debounce delay ($26).
void SimulatedMachine::homeCycle(unsigned axes, int phase, std::function<void()> then)
{
    if (phase == 4) {
        then();
        return;
    }
    const bool approach = phase % 2 == 0;
    Axes target = m_plannedPosition;
    int count = 0;
    for (int axis = 0; axis < 3; ++axis) {
        if (axes & (1u << axis)) {
            target[axis] = m_switches[axis] - (approach ? 0.0 : m_settings.homingPulloff());
            ++count;
        }
    }
    Move move;
    move.target = target;
    move.motion.kind = SimulatedMotion::Kind::Homing;
    move.motion.feed = (phase == 2 ? m_settings.homingFeed() : m_settings.homingSeek()) * std::sqrt(double(count));
    planMove(move);
    waitUntil([this] { return m_planner.isEmpty(); }, [this, axes, phase, then] {
        waitFor(m_settings.homingDebounceMs() / 1000.0, [this, axes, phase, then] { homeCycle(axes, phase + 1, then); });
    }, true);
}

// The switches define machine zero; the axes stand the pull-off distance away from them.
void SimulatedMachine::finishHoming()
{
    const double pulloff = m_settings.homingPulloff();
    m_switches = Axes{};
    const Axes home = toSteps({-pulloff, -pulloff, -pulloff});
    m_planner.setPosition(home);
    m_plannedPosition = m_gc.position = home;
    m_state = State::Idle;
    runStartupLines([this] { finish(Ok); });
}

// ---- motion and waiting ----

double SimulatedMachine::simNow() const
{
    if (m_config.timeScale <= 0.0)
        return std::numeric_limits<double>::infinity();
    return m_clock.nsecsElapsed() * 1e-9 / m_config.timeScale;
}

void SimulatedMachine::refreshMotion()
{
    m_planner.advance(simNow());
    if (m_planner.isEmpty()) {
        if (m_state == State::Cycle)
            m_state = State::Idle;
        if (m_state == State::Jog) {
            m_state = m_doorDuringJog ? State::Door : State::Idle;
            m_jogCancel = m_doorDuringJog = false;
            m_gc.position = syncPosition();
        }
    }
    if (m_state == State::Door && !m_planner.isDecelerating() && !m_doorRestoring)
        m_accessoriesOff = true;
    const double next = m_planner.nextEventTime();
    if (next < 0.0 || m_config.timeScale <= 0.0) {
        m_motionTimer->stop();
        return;
    }
    const double delayMs = (next - simNow()) * m_config.timeScale * 1000.0;
    m_motionTimer->start(int(std::clamp(std::ceil(delayMs), 0.0, 1e9)));
}

// Feed moves that go below the surface with the spindle stopped would break a cutter: flagged.
void SimulatedMachine::motionFinished(SimulatedMotion motion)
{
    if (motion.kind == SimulatedMotion::Kind::Feed && motion.spindle == 5 && m_surface.goesBelow(motion.start, motion.end)) {
        motion.cutWithSpindleStopped = true;
        emit note(QStringLiteral("<cut below the surface with the spindle stopped: %1>").arg(motion.line));
    }
    m_log->addMotion(motion);
}

// The continuation runs once the condition holds; while a hold or the door suspends the
// controller, only waits that the suspension itself is part of go on.
void SimulatedMachine::waitUntil(std::function<bool()> condition, std::function<void()> then, bool throughSuspend)
{
    if ((throughSuspend || !isSuspended()) && condition()) {
        then();
        return;
    }
    m_waitCondition = std::move(condition);
    m_afterWait = std::move(then);
    m_waitThroughSuspend = throughSuspend;
}

// Dwells and debounce delays pass in simulated time.
void SimulatedMachine::waitFor(double simulatedSeconds, std::function<void()> then)
{
    const double ms = simulatedSeconds * m_config.timeScale * 1000.0;
    if (ms < 0.5) {
        then();
        return;
    }
    m_delayTimer->start(int(std::min(std::round(ms), 1e9)));
    waitUntil([this] { return !m_delayTimer->isActive(); }, std::move(then), true);
}

// protocol_buffer_synchronize: until every planned motion has ended.
void SimulatedMachine::afterSync(std::function<void()> then)
{
    waitUntil([this] { return m_planner.isEmpty() && m_state != State::Cycle; }, std::move(then));
}

void SimulatedMachine::checkWaiting()
{
    while (m_waitCondition && !m_pauseTimer->isActive() && !m_halted && (m_waitThroughSuspend || !isSuspended())
           && m_waitCondition()) {
        m_waitCondition = nullptr;
        take(m_afterWait)();
    }
}

void SimulatedMachine::abandonWaiting()
{
    m_waitCondition = nullptr;
    m_afterWait = nullptr;
    m_afterPause = nullptr;
    m_moves.clear();
    m_afterMoves = nullptr;
    m_startupQueue.clear();
    m_delayTimer->stop();
}

bool SimulatedMachine::moving() const
{
    return m_state == State::Cycle || m_state == State::Homing || m_state == State::Jog || m_planner.isDecelerating();
}

// ---- real-time commands ----

// What the serial interrupt does with a real-time byte: set a flag for the main loop (a reset
// also stops the steppers at once). Repeats before the main loop looks merge into one.
void SimulatedMachine::realtime(char byte)
{
    const auto code = static_cast<unsigned char>(byte);
    switch (code) {
    case '?': m_statusRequested = true; break;
    case '!': m_holdRequested = true; break;
    case '~': m_startRequested = true; break;
    case 0x18: requestReset(); break;
    case 0x84: m_doorRequested = true; break;
    case 0x85: m_jogCancelRequested = m_jogCancelRequested || m_state == State::Jog; break;
    default:
        if (code >= 0x90 && code <= 0x97)
            m_motionOverrides |= 1u << (code - 0x90);
        else if ((code >= 0x99 && code <= 0x9e) || code == 0xa0)
            m_accessoryOverrides |= 1u << (code - 0x99);
        // 0xA1 (mist) needs M7, which this firmware is built without; other bytes mean nothing.
        break;
    }
}

void SimulatedMachine::serveRealtime()
{
    serveStatus();
    if (take(m_sleepRequested)) {
        m_state = State::Sleep;
        m_accessoriesOff = true;
        emit answer(QStringLiteral("[MSG:Sleeping]"));
    }
    // A resume that comes together with a stop is ignored, so that nothing restarts by accident.
    const bool stops = m_holdRequested || m_doorRequested || m_jogCancelRequested;
    if (take(m_jogCancelRequested) && m_state == State::Jog)
        cancelJog();
    if (take(m_holdRequested))
        feedHold();
    if (take(m_doorRequested))
        openDoor();
    if (take(m_startRequested) && !stops)
        cycleStart();
    changeOverrides();
}

void SimulatedMachine::serveStatus()
{
    if (!m_statusRequested)
        return;
    const qint64 now = m_clock.nsecsElapsed() / 1000;
    const qint64 due = m_lastReportUs + ReportSpacingUs;
    if (now < due) {
        if (!m_reportTimer->isActive())
            m_reportTimer->start(int((due - now + 999) / 1000));
        return;
    }
    m_statusRequested = false;
    m_lastReportUs = now;
    emit answer(statusReport());
}

void SimulatedMachine::feedHold()
{
    switch (m_state) {
    case State::Cycle:
        m_planner.hold();
        m_state = State::Hold;
        break;
    case State::Jog:
        cancelJog();
        break;
    case State::Idle:
        m_state = State::Hold;
        break;
    default:
        break;                          // alarm, check mode, homing, door, sleep, already held
    }
    refreshMotion();
}

// A resume waits until the machine has come to rest; at the door, until it is closed, and then
// for the spindle (4 s) and coolant (1 s) to come back first.
void SimulatedMachine::cycleStart()
{
    if (m_planner.isDecelerating())
        return;
    if (m_state == State::Hold) {
        resumeCycle();
        return;
    }
    if (m_state != State::Door || m_doorOpen || m_doorRestoring)
        return;
    m_doorRestoring = true;
    const double seconds = (m_gc.modal.spindle != 5 ? SpindleRestartSeconds : 0.0)
        + (m_gc.modal.flood ? CoolantRestartSeconds : 0.0);
    const double ms = seconds * m_config.timeScale * 1000.0;
    if (ms < 0.5)
        doorRestored();
    else
        m_doorTimer->start(int(std::min(std::round(ms), 1e9)));
}

void SimulatedMachine::doorRestored()
{
    m_doorRestoring = m_accessoriesOff = false;
    resumeCycle();
}

void SimulatedMachine::resumeCycle()
{
    m_spindleStopOverride = false;
    refreshMotion();
    if (m_planner.isEmpty()) {
        m_state = State::Idle;
    } else {
        m_planner.resume();
        m_state = State::Cycle;
    }
    refreshMotion();
    emit readyForInput();
}

void SimulatedMachine::cancelJog()
{
    m_jogCancel = true;
    m_planner.cancel();
    refreshMotion();
}

// Opening the door stops the motion like a hold, then the spindle and coolant; a jog is cancelled
// first and the door state follows when it has stopped.
void SimulatedMachine::openDoor()
{
    if (m_state == State::Alarm || m_state == State::Check)
        return;
    emit answer(QStringLiteral("[MSG:Check Door]"));
    if (m_state == State::Jog) {
        if (!m_jogCancel)
            cancelJog();
        m_doorDuringJog = true;
        return;
    }
    if (m_state == State::Sleep || m_state == State::Homing)
        return;
    if (m_doorRestoring) {
        m_doorTimer->stop();
        m_doorRestoring = false;
    }
    m_planner.hold();
    m_state = State::Door;
    refreshMotion();
}

void SimulatedMachine::setDoorOpen(bool open)
{
    if (open == m_doorOpen)
        return;
    m_doorOpen = open;
    if (open)
        m_doorRequested = true;
}

// The feed and spindle override bytes: back to 100 %, then +10, -10, +1, -1, kept within 10..200 %.
int SimulatedMachine::stepped(int percent, unsigned bits)
{
    static const int steps[5] = {0, 10, -10, 1, -1};
    if (bits & 1u)
        percent = 100;
    for (int bit = 1; bit <= 4; ++bit)
        percent += (bits & (1u << bit)) ? steps[bit] : 0;
    return std::clamp(percent, 10, 200);
}

// Feed and rapid overrides change the planned speeds at once; the spindle override its speed.
void SimulatedMachine::changeOverrides()
{
    const unsigned motion = take(m_motionOverrides), accessory = take(m_accessoryOverrides);
    const int feed = stepped(m_feedOverride, motion);
    int rapid = m_rapidOverride;
    if (motion & (1u << 5))
        rapid = 100;
    if (motion & (1u << 6))
        rapid = 50;
    if (motion & (1u << 7))
        rapid = 25;
    if (feed != m_feedOverride || rapid != m_rapidOverride) {
        refreshMotion();
        m_feedOverride = feed;
        m_rapidOverride = rapid;
        m_planner.setOverrides(feed, rapid);
        m_reporter.refreshOverrides();
        refreshMotion();
    }
    const int spindle = stepped(m_spindleOverride, accessory);
    const bool stopsSpindle = (accessory & (1u << 5)) && m_state == State::Hold;
    const bool togglesFlood = (accessory & (1u << 7))
        && (m_state == State::Idle || m_state == State::Cycle || m_state == State::Hold);
    if (spindle != m_spindleOverride || stopsSpindle || togglesFlood)
        m_reporter.refreshOverrides();
    m_spindleOverride = spindle;
    m_spindleStopOverride = m_spindleStopOverride != stopsSpindle;
    m_gc.modal.flood = m_gc.modal.flood != togglesFlood;
}

// ---- alarms and resets ----

// mc_reset: only the first one counts until the controller has started again. Motion stops at
// once, and position is then lost (ALARM:3, or 6 while homing).
void SimulatedMachine::requestReset()
{
    if (m_resetRequested)
        return;
    m_resetRequested = true;
    m_halted = false;
    if (!m_powered)
        return;
    refreshMotion();
    if (moving()) {
        m_planner.stop();
        if (m_state != State::Homing)
            m_pendingAlarm = AbortCycle;
        else if (!m_pendingAlarm)
            m_pendingAlarm = HomingFailReset;
        refreshMotion();
    }
    m_accessoriesOff = true;
}

void SimulatedMachine::triggerHardLimit()
{
    if (!m_powered || m_state == State::Alarm)
        return;
    requestReset();
    m_pendingAlarm = HardLimit;
    settle();
}

// The firmware pauses 500 ms after printing an alarm. For a hard or soft limit a reset that
// arrives meanwhile is forgotten and the controller then waits for another one.
void SimulatedMachine::raiseAlarm(int code, std::function<void()> then)
{
    m_pendingAlarm = 0;
    m_state = State::Alarm;
    emit answer(QStringLiteral("ALARM:%1").arg(code));
    m_criticalPause = code == HardLimit || code == SoftLimit;
    m_afterPause = std::move(then);
    m_pauseTimer->start(m_config.alarmPauseMs);
}

void SimulatedMachine::endAlarmPause()
{
    if (m_criticalPause) {
        m_resetRequested = false;
        m_afterPause = nullptr;
        emit answer(QStringLiteral("[MSG:Reset to continue]"));
        m_halted = true;
        return;
    }
    auto then = take(m_afterPause);
    if (take(m_resetRequested)) {
        m_aborting = true;
        m_planner.stop();
    } else {
        serveRealtime();
    }
    if (then)
        then();
    else
        settle();
    if (!m_lineInWork && !m_aborting)
        emit readyForInput();
}

// sys.abort: a line waiting in the main loop ends with "ok", then the controller starts over.
void SimulatedMachine::abort()
{
    m_resetRequested = false;
    m_aborting = true;
    m_planner.stop();
    refreshMotion();
    if (!m_lineInWork) {
        reinitialise(false);
        return;
    }
    abandonWaiting();
    if (m_onFinished)
        finish(Ok);
    else
        lineDone();
}

// GRBL's start: the serial buffer is emptied, the parser, planner and overrides start afresh and
// the banner is printed. A controller that was in alarm stays locked (at power-up: when homing is
// enabled); otherwise the startup blocks run.
void SimulatedMachine::reinitialise(bool poweringUp)
{
    const bool locked = poweringUp ? m_settings.homingEnabled() : (m_state == State::Alarm || m_state == State::Sleep);
    forgetRealtimeCommands();
    abandonWaiting();
    m_onFinished = nullptr;
    m_afterStartup = nullptr;
    m_pauseTimer->stop();
    m_doorTimer->stop();
    emit receiveBufferFlushed();
    m_planner.stop();
    m_feedOverride = m_rapidOverride = m_spindleOverride = 100;
    m_planner.setOverrides(100, 100);
    m_state = locked ? State::Alarm : State::Idle;
    m_jogCancel = m_doorRestoring = m_doorDuringJog = m_accessoriesOff = m_spindleStopOverride = false;
    m_gc = GcodeState();
    m_gc.coordinateSystem = m_stored.systems[0];
    m_gc.position = syncPosition();
    m_probePosition = Axes{};
    m_probeSucceeded = false;
    m_reporter.reset();
    refreshMotion();
    printBanner();
    if (locked) {
        emit answer(QStringLiteral("[MSG:'$H'|'$X' to unlock]"));
        m_lineInWork = false;
        emit readyForInput();
        return;
    }
    if (m_doorOpen)
        openDoor();
    m_lineInWork = true;
    m_line.clear();
    waitUntil([] { return true; }, [this] { runStartupLines([this] { lineDone(); }); });
}

void SimulatedMachine::forgetRealtimeCommands()
{
    m_aborting = m_resetRequested = m_halted = false;
    m_pendingAlarm = 0;
    m_statusRequested = m_holdRequested = m_startRequested = m_doorRequested = false;
    m_jogCancelRequested = m_sleepRequested = false;
    m_motionOverrides = m_accessoryOverrides = 0;
}

void SimulatedMachine::printBanner()
{
    emit answer(QString());
    emit answer(QStringLiteral("Grbl 1.1h ['$' for help]"));
}

// ---- reports ----

QString SimulatedMachine::stateName() const
{
    switch (m_state) {
    case State::Idle: return QStringLiteral("Idle");
    case State::Alarm: return QStringLiteral("Alarm");
    case State::Check: return QStringLiteral("Check");
    case State::Homing: return QStringLiteral("Home");
    case State::Cycle: return QStringLiteral("Run");
    case State::Hold: return m_planner.isDecelerating() ? QStringLiteral("Hold:1") : QStringLiteral("Hold:0");
    case State::Jog: return QStringLiteral("Jog");
    case State::Sleep: return QStringLiteral("Sleep");
    case State::Door:
        if (m_doorRestoring)
            return QStringLiteral("Door:3");
        if (m_planner.isDecelerating())
            return QStringLiteral("Door:2");
        return m_doorOpen ? QStringLiteral("Door:1") : QStringLiteral("Door:0");
    }
    return QString();
}

QString SimulatedMachine::statusReport()
{
    refreshMotion();
    StatusReporter::Snapshot s;
    s.state = stateName();
    s.machinePosition = toSteps(m_planner.position());
    s.workOffset = workOffset();
    s.workPosition = !m_settings.reportsMachinePosition();
    s.bufferState = m_settings.reportsBufferState();
    s.inches = m_settings.reportsInches();
    s.freeBlocks = m_planner.freeBlocks();
    s.freeBytes = m_receiveBufferFree ? m_receiveBufferFree() : 128;
    s.busy = m_state == State::Homing || m_state == State::Cycle || m_state == State::Hold || m_state == State::Jog
        || m_state == State::Door;
    s.feed = s.busy ? m_planner.speed() : 0.0;
    s.spindleSpeed = spindleRpm();
    if (!m_probeMisses && m_surface.touches(m_planner.position()))
        s.pins += QLatin1Char('P');
    if (m_doorOpen)
        s.pins += QLatin1Char('D');
    s.feedOverride = m_feedOverride;
    s.rapidOverride = m_rapidOverride;
    s.spindleOverride = m_spindleOverride;
    if (spindleRuns())
        s.accessories += m_gc.modal.spindle == 4 ? QLatin1Char('C') : QLatin1Char('S');
    if (m_gc.modal.flood && !m_accessoriesOff)
        s.accessories += QLatin1Char('F');
    return m_reporter.compose(s);
}

bool SimulatedMachine::spindleRuns() const
{
    return m_gc.modal.spindle != 5 && !m_accessoriesOff && !m_spindleStopOverride;
}

// The speed the spindle really turns at: the override applied and limited to $30/$31.
double SimulatedMachine::spindleRpm() const
{
    if (!spindleRuns())
        return 0.0;
    const double rpm = m_gc.spindleSpeed * m_spindleOverride / 100.0;
    const double minimum = m_settings.spindleMin(), maximum = m_settings.spindleMax();
    if (minimum >= maximum || rpm >= maximum)
        return maximum;
    if (rpm <= minimum)
        return rpm == 0.0 ? 0.0 : minimum;
    return rpm;
}

QString SimulatedMachine::parserState() const
{
    const int motion = m_gc.modal.motion;
    const QString motionText = motion >= GcodeState::ProbeToward ? QStringLiteral("38.%1").arg(motion - 380)
                                                                  : QString::number(motion / 10);
    const double feed = m_settings.reportsInches() ? m_gc.feed / MmPerInch : m_gc.feed;
    return QStringLiteral("[GC:G%1 G%2 G%3 G%4 G%5 G%6 M%7 M%8 T%9 F%10 S%11]")
        .arg(motionText)
        .arg(54 + m_gc.modal.coordinateSystem)
        .arg(17 + m_gc.modal.plane)
        .arg(m_gc.modal.inches ? 20 : 21)
        .arg(m_gc.modal.incremental ? 91 : 90)
        .arg(m_gc.modal.inverseTime ? 93 : 94)
        .arg(m_gc.modal.spindle)
        .arg(m_gc.modal.flood ? 8 : 9)
        .arg(m_gc.tool)
        .arg(StatusReporter::number(feed, m_settings.reportsInches() ? 1 : 0))
        .arg(StatusReporter::number(m_gc.spindleSpeed, 0));
}
