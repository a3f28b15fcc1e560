#include "tools/grblsim/grblsimulator.h"

#include "tools/grblsim/grblsettings.h"
#include "tools/grblsim/simulatedmachine.h"

#include <QFile>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <unistd.h>

namespace {
// One 8N1 character at 115200 baud: ten bits.
constexpr double ByteTimeUs = 1e6 * 10.0 / 115200.0;
// The paced output writes what the wire sends in the next millisecond.
constexpr qint64 WriteAheadUs = 1000;
// Longer lines cannot come from a sane client; the controller rejects anything over 80 anyway.
constexpr int MaxAssembledLine = 1024;

// Besides ? ! ~ and 0x18, GRBL takes every byte from 0x80 up out of the stream (door, jog cancel, overrides).
bool isRealtime(char byte)
{
    switch (static_cast<unsigned char>(byte)) {
    case '?': case '!': case '~': case 0x18:
        return true;
    default:
        return static_cast<unsigned char>(byte) >= 0x80;
    }
}

QString realtimeNote(char byte)
{
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x20 || code >= 0x7f)
        return QStringLiteral("<0x%1>").arg(code, 2, 16, QLatin1Char('0'));
    return QString(QLatin1Char(byte));
}
}

GrblSimulator::GrblSimulator(QObject *parent)
    : GrblSimulator(Options(), parent)
{
}

GrblSimulator::GrblSimulator(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_surface(options.surface, options.surfaceZ, options.bowSagitta, options.bowCentreX, options.bowCentreY)
    , m_wireTimer(new QTimer(this))
    , m_outputTimer(new QTimer(this))
    , m_bootTimer(new QTimer(this))
    , m_random(options.seed)
{
    if (m_options.eepromWriteMs < 0)
        m_options.eepromWriteMs = m_options.emulateBaud ? 30 : 5;
    m_wireTimer->setSingleShot(true);
    m_wireTimer->setTimerType(Qt::PreciseTimer);
    m_outputTimer->setSingleShot(true);
    m_outputTimer->setTimerType(Qt::PreciseTimer);
    connect(m_wireTimer, &QTimer::timeout, this, &GrblSimulator::deliverArrivedBytes);
    connect(m_outputTimer, &QTimer::timeout, this, &GrblSimulator::writeOutput);
    m_bootTimer->setSingleShot(true);

    SimulatedMachine::Config config;
    config.timeScale = m_options.motionTimeScale;
    config.surface = m_surface;
    config.eepromWriteMs = m_options.eepromWriteMs;
    config.storedSettings = m_options.settings;
    m_motionLog.setKeepRecords(m_options.keepRecords);
    m_machine = new SimulatedMachine(config, &m_motionLog, this);
    m_machine->setReceiveBufferFree([this] { return ReceiveBufferSize - int(m_receiveBuffer.size()); });
    connect(m_machine, &SimulatedMachine::answer, this, &GrblSimulator::queueAnswer);
    connect(m_machine, &SimulatedMachine::note, this, &GrblSimulator::logText);
    // Queued: the machine may become ready while a line is still being executed.
    connect(m_machine, &SimulatedMachine::readyForInput, this, &GrblSimulator::processInput, Qt::QueuedConnection);
    connect(m_machine, &SimulatedMachine::eepromWriteStarted, this, [this](int ms) {
        m_eepromBusyUntilUs = nowUs() + qint64(ms) * 1000;
    });
    connect(m_machine, &SimulatedMachine::receiveBufferFlushed, this, [this] {
        m_receiveBuffer.clear();
        m_line.clear();
        m_lineComplete = false;
    });
    m_clock.start();
}

GrblSimulator::~GrblSimulator()
{
    stop();
}

bool GrblSimulator::start()
{
    int refused = 0;
    if (const int status = GrblSettings().writeAll(m_options.settings, &refused)) {
        m_error = QStringLiteral("the setting $%1=%2 is refused (error:%3)").arg(refused).arg(m_options.settings.value(refused)).arg(status);
        return false;
    }
    if (!m_options.motionLogPath.isEmpty() && !m_motionLog.open(m_options.motionLogPath, &m_error))
        return false;
    if (!m_pty.open(&m_error))
        return false;
    if (!m_options.linkPath.isEmpty() && !m_pty.makeLink(m_options.linkPath, &m_error)) {
        m_pty.close();
        return false;
    }
    if (!m_options.logPath.isEmpty()) {
        m_log = std::make_unique<QFile>(m_options.logPath);
        if (!m_log->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            m_error = QStringLiteral("cannot open the log %1").arg(m_options.logPath);
            m_log.reset();
            m_pty.close();
            return false;
        }
    }
    m_readNotifier = new QSocketNotifier(m_pty.masterFd(), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &GrblSimulator::readMaster);
    m_writeNotifier = new QSocketNotifier(m_pty.masterFd(), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &GrblSimulator::writeOutput);
    const int openWatch = m_pty.watchOpens();
    if (openWatch < 0) {
        m_machine->powerUp();
        return true;
    }
    m_openNotifier = new QSocketNotifier(openWatch, QSocketNotifier::Read, this);
    connect(m_openNotifier, &QSocketNotifier::activated, this, &GrblSimulator::restartOnOpen);
    connect(m_bootTimer, &QTimer::timeout, m_machine, &SimulatedMachine::powerUp, Qt::UniqueConnection);
    return true;
}

// What was on its way in either direction is lost with the restart.
void GrblSimulator::restartOnOpen()
{
    if (m_pty.takeOpenEvents() == 0)
        return;
    discardInput();
    m_output.clear();
    m_outputTimer->stop();
    m_pty.discardUnreadOutput();
    m_machine->restart();
    m_bootTimer->start(m_options.bootMs);
}

void GrblSimulator::discardInput()
{
    char chunk[4096];
    while (::read(m_pty.masterFd(), chunk, sizeof chunk) > 0) {
    }
    m_wire.clear();
    m_wireTimer->stop();
    m_receiveBuffer.clear();
    m_deferredRealtime.clear();
    m_line.clear();
    m_lineComplete = false;
}

void GrblSimulator::stop()
{
    delete m_readNotifier;
    delete m_writeNotifier;
    delete m_openNotifier;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    m_openNotifier = nullptr;
    m_bootTimer->stop();
    m_wireTimer->stop();
    m_outputTimer->stop();
    m_pty.close();
    if (m_log)
        m_log->flush();
}

QString GrblSimulator::devicePath() const
{
    return m_options.linkPath.isEmpty() ? m_pty.slavePath() : m_options.linkPath;
}

QStringList GrblSimulator::receivedLines() const
{
    QMutexLocker locker(&m_recordMutex);
    return m_received;
}

int GrblSimulator::overflowCount() const
{
    return m_overflow;
}

int GrblSimulator::droppedDuringEepromWrite() const
{
    return m_eepromDropped;
}

template<typename F>
void GrblSimulator::inOwnThread(F &&function)
{
    if (thread() == QThread::currentThread())
        function();
    else
        QMetaObject::invokeMethod(this, std::forward<F>(function), Qt::BlockingQueuedConnection);
}

QString GrblSimulator::setting(int number) const
{
    QString value;
    const_cast<GrblSimulator *>(this)->inOwnThread([&] { value = m_machine->setting(number); });
    return value;
}

void GrblSimulator::softReset()
{
    inOwnThread([this] {
        // An open not yet noticed restarts the board first; a reset during its boot just ends the
        // boot, so the host sees one banner.
        if (m_openNotifier)
            restartOnOpen();
        if (!m_bootTimer->isActive()) {
            takeRealtime(0x18);
            processInput();
            return;
        }
        m_bootTimer->stop();
        record(realtimeNote(0x18));
        m_machine->powerUp();
    });
}

void GrblSimulator::triggerHardLimit()
{
    inOwnThread([this] {
        m_machine->triggerHardLimit();
        processInput();
    });
}

void GrblSimulator::setDoorOpen(bool open)
{
    inOwnThread([this, open] {
        m_machine->setDoorOpen(open);
        processInput();
    });
}

void GrblSimulator::setProbeMisses(bool misses)
{
    inOwnThread([this, misses] { m_machine->setProbeMisses(misses); });
}

// Everything the client wrote goes onto the wire at once; with baud emulation each byte then
// arrives one character time after the one before it.
void GrblSimulator::readMaster()
{
    char chunk[4096];
    const ssize_t count = ::read(m_pty.masterFd(), chunk, sizeof chunk);
    if (count <= 0) {
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            m_readNotifier->setEnabled(false);
        return;
    }
    const qint64 now = nowUs();
    for (ssize_t i = 0; i < count; ++i) {
        qint64 arrival = now;
        if (m_options.emulateBaud) {
            m_inputWireFreeUs = std::max<qint64>(m_inputWireFreeUs, now) + qint64(std::lround(ByteTimeUs));
            arrival = m_inputWireFreeUs;
        }
        m_wire.push_back({chunk[i], arrival});
    }
    deliverArrivedBytes();
}

void GrblSimulator::deliverArrivedBytes()
{
    const qint64 now = nowUs();
    while (!m_wire.empty() && m_wire.front().arrivalUs <= now) {
        const char byte = m_wire.front().byte;
        m_wire.pop_front();
        receiveByte(byte);
        // The main loop looks at a hold or resume at once; status requests and a reset wait for its
        // next check point, so requests that arrive together get one report and the bytes that came
        // with a reset go with the buffer.
        if (byte == '\n' || byte == '\r' || (isRealtime(byte) && byte != '?' && byte != 0x18))
            processInput();
    }
    logLosses();
    if (!m_wire.empty())
        scheduleWireTimer(m_wire.front().arrivalUs);
    processInput();
}

void GrblSimulator::scheduleWireTimer(qint64 dueUs)
{
    const qint64 delayMs = std::max<qint64>(0, (dueUs - nowUs() + 999) / 1000);
    if (!m_wireTimer->isActive() || m_wireTimer->remainingTime() > delayMs)
        m_wireTimer->start(int(delayMs));
}

bool GrblSimulator::eepromBusy() const
{
    return nowUs() < m_eepromBusyUntilUs;
}

// The serial interrupt: while the EEPROM is written nothing is received; real-time bytes are
// handed to the controller at once but only while the buffer has room (a full buffer delays them
// until the controller has taken a character); other characters beyond the 128 are lost.
// A suspended controller (hold, door, halted after a limit) never makes room by itself, so there
// a real-time byte is taken even with the buffer full; otherwise "~" or 0x18 could never arrive.
void GrblSimulator::receiveByte(char byte)
{
    if (m_bootTimer->isActive()) {
        ++m_bootLostInBurst;
        return;
    }
    if (eepromBusy()) {
        ++m_eepromDropped;
        ++m_eepromLostInBurst;
        return;
    }
    const bool full = m_receiveBuffer.size() >= ReceiveBufferSize;
    if (isRealtime(byte)) {
        if (full && !m_machine->waitsForHost())
            m_deferredRealtime.append(byte);
        else
            takeRealtime(byte);
        return;
    }
    if (full) {
        ++m_overflow;
        ++m_lostInBurst;
        return;
    }
    m_receiveBuffer.append(byte);
}

void GrblSimulator::takeRealtime(char byte)
{
    record(realtimeNote(byte));
    m_machine->realtime(byte);
}

void GrblSimulator::logLosses()
{
    if (m_lostInBurst > 0)
        logText(QStringLiteral("<receive buffer full: %1 characters lost>").arg(m_lostInBurst));
    if (m_eepromLostInBurst > 0)
        logText(QStringLiteral("<EEPROM write: %1 characters lost>").arg(m_eepromLostInBurst));
    if (m_bootLostInBurst > 0)
        logText(QStringLiteral("<starting: %1 characters lost>").arg(m_bootLostInBurst));
    m_lostInBurst = 0;
    m_eepromLostInBurst = 0;
    m_bootLostInBurst = 0;
}

bool GrblSimulator::takeDeferredRealtime()
{
    bool taken = false;
    while (!m_deferredRealtime.isEmpty()
           && (m_receiveBuffer.size() < ReceiveBufferSize || m_machine->waitsForHost())) {
        const char realtime = m_deferredRealtime.at(0);
        m_deferredRealtime.remove(0, 1);
        takeRealtime(realtime);
        taken = true;
    }
    return taken;
}

// The controller's main loop. It reads characters into its line as long as it is not busy with a
// line, and looks at the real-time commands at each line end. A hold or the door stops it there:
// the line whose end it has read waits, and the buffer fills behind it.
void GrblSimulator::processInput()
{
    m_machine->settle();
    for (;;) {
        if (takeDeferredRealtime())
            m_machine->settle();
        if (!m_machine->takesCharacters())
            return;
        if (m_lineComplete) {
            if (m_machine->waitsAtLineEnd())
                return;
            completeLine();
            continue;
        }
        if (m_receiveBuffer.isEmpty())
            return;
        const char byte = m_receiveBuffer.at(0);
        m_receiveBuffer.remove(0, 1);
        if (byte == '\n' || byte == '\r') {
            m_lineComplete = true;
            m_machine->settle();
        } else if (m_line.size() < MaxAssembledLine) {
            m_line.append(byte);
        }
    }
}

void GrblSimulator::completeLine()
{
    const QByteArray line = m_line;
    m_line.clear();
    m_lineComplete = false;
    record(QString::fromLatin1(line));
    m_machine->executeLine(line);
}

void GrblSimulator::record(const QString &line)
{
    if (m_options.keepRecords) {
        QMutexLocker locker(&m_recordMutex);
        m_received << line;
    }
    logText(line);
    emit lineReceived(line);
}

void GrblSimulator::logText(const QString &text)
{
    if (!m_log)
        return;
    m_log->write(text.toLatin1() + '\n');
    m_log->flush();
}

void GrblSimulator::queueAnswer(const QString &line)
{
    if (m_output.isEmpty())
        m_outputWireFreeUs = std::max(m_outputWireFreeUs, nowUs());
    m_output.append(line.toLatin1() + "\r\n");
    if (!m_outputTimer->isActive() && !(m_writeNotifier && m_writeNotifier->isEnabled()))
        writeOutput();
}

// Answers leave whole, in random chunks, or paced at one character time per byte. The paced wire
// keeps its own clock, so late timers do not slow it below 115200 baud.
void GrblSimulator::writeOutput()
{
    if (!m_pty.isOpen() || m_output.isEmpty())
        return;
    int length = m_output.size();
    qint64 nextDelayUs = 0;
    if (m_options.chunkedAnswers) {
        length = std::min(length, 1 + int(m_random.bounded(12)));
        nextDelayUs = qint64(m_random.bounded(2)) * 1000;
    }
    if (m_options.emulateBaud) {
        const qint64 now = nowUs();
        const int due = int(double(now + WriteAheadUs - m_outputWireFreeUs) / ByteTimeUs);
        length = std::clamp(due, 0, length);
        m_outputWireFreeUs += qint64(std::lround(length * ByteTimeUs));
        nextDelayUs = std::max(nextDelayUs, std::max<qint64>(1000, m_outputWireFreeUs - WriteAheadUs - now));
    }
    const ssize_t written = length > 0 ? ::write(m_pty.masterFd(), m_output.constData(), size_t(length)) : 0;
    if (written < 0) {
        if (errno == EAGAIN || errno == EINTR)
            m_writeNotifier->setEnabled(true);
        return;
    }
    m_writeNotifier->setEnabled(false);
    m_output.remove(0, int(written));
    if (m_output.isEmpty())
        return;
    if (nextDelayUs <= 0)
        writeOutput();
    else
        m_outputTimer->start(int((nextDelayUs + 999) / 1000));
}
