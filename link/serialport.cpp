#include "link/serialport.h"

#include "link/checkdoormessage.h"
#include "link/grblline.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialportreader.h"
#include "link/serialportwriter.h"
#include "link/stayawake.h"
#include "link/statuspoller.h"
#include "link/unlockserialmessage.h"
#include "preview/maschine.h"

#include <QInputDialog>
#include <QTimer>

namespace {
const QString banner = QStringLiteral("['$' for help]");
const char softReset = '\x18';
}

SerialPort::SerialPort(QObject *parent)
    : QObject(parent)
    , m_sendQueue(new SendQueue(this))
    , m_stayAwake(new StayAwake(this))
    , m_port(new QSerialPort(this))
    , m_reader(new SerialPortReader(this, this))
    , m_writer(new SerialPortWriter(this, this))
    , m_unlockMessage(new UnlockSerialMessage(this))
    , m_statusPoller(new StatusPoller(this))
    , m_resetTimer(new QTimer(this))
{
    m_sendQueue->setDevice(m_port);
    connect(m_sendQueue, &SendQueue::keepAwake, m_stayAwake, &StayAwake::setAwake);
    connect(m_sendQueue, &SendQueue::keepAwake, m_statusPoller, [this](bool busy) {
        if (busy)
            m_statusPoller->wake();
    });
    connect(m_reader, &SerialPortReader::statusUpdate, m_statusPoller, &StatusPoller::reportArrived);
    // Queued: the port reports a failed write from inside the send queue's locked write, and the
    // tear-down it starts needs that lock. A failed open is over (connected cleared) before this runs.
    connect(m_port, &QSerialPort::errorOccurred, this,
            qOverload<QSerialPort::SerialPortError>(&SerialPort::resetConnection), Qt::QueuedConnection);
    connect(m_port, &QSerialPort::bytesWritten, this, &SerialPort::msgSentToGRBL, Qt::QueuedConnection);
    connect(CheckDoorMessage::instance(), &CheckDoorMessage::unlock, this, &SerialPort::sendUnlockMsg);
    connect(m_reader, &SerialPortReader::info, this, &SerialPort::info);
    connect(m_reader, &SerialPortReader::testError, this, &SerialPort::testError);
    connect(m_reader, &SerialPortReader::doorMessage, this, &SerialPort::doorMessage);
    connect(m_unlockMessage, &UnlockSerialMessage::answered, this, &SerialPort::queueCalibration);
    connect(m_resetTimer, &QTimer::timeout, this, &SerialPort::repeatResetUntilBanner);
    Maschine::instance()->setSerialPort(this);
}

SerialPort::~SerialPort()
{
    disconnect(m_reader, &SerialPortReader::Alarm, this, &SerialPort::resetToUnlockScreen);
    disconnect(m_port, &QSerialPort::bytesWritten, this, &SerialPort::msgSentToGRBL);
    m_sendQueue->clear();
    if (Maschine::instance()->serialPort() == this)
        Maschine::instance()->setSerialPort(nullptr);
}

void SerialPort::setUnlockOnly(bool unlockOnly)
{
    m_unlockOnly = unlockOnly;
    m_unlockMessage->setUnlockOnly(unlockOnly);
}

bool SerialPort::isRecognisedAdapter(const QString &description, bool hasIds, quint16 vendorId, quint16 productId)
{
    static const QStringList descriptions = {QStringLiteral("USB-SERIAL CH340"), QStringLiteral("Arduino Uno"),
                                             QStringLiteral("Serielles USB-Ger\u00e4t")};
    // Linux names adapters after their USB strings, not after the Windows drivers: match the ids too.
    static const QList<QPair<quint16, quint16>> usbIds = {
        {0x1a86, 0x7523}, {0x2341, 0x0043}, {0x2341, 0x0001}, {0x2a03, 0x0043}};
    return descriptions.contains(description) || (hasIds && usbIds.contains({vendorId, productId}));
}

bool SerialPort::connectToMachine()
{
    if (m_connected)
        return true;
    const QString portName = choosePortName();
    if (portName.isEmpty())
        return false;
    m_connected = true;
    if (!openPort(portName)) {
        m_port->close();
        m_connected = false;
        return false;
    }
    return true;
}

// Pseudo-terminals never show up in the system's port list, so a simulated controller is named
// through KORVEX_PORT.
QString SerialPort::choosePortName()
{
    const QString forced = qEnvironmentVariable("KORVEX_PORT");
    if (!forced.isEmpty())
        return forced;
    m_availablePorts = QSerialPortInfo::availablePorts();
    QStringList names;
    QSerialPortInfo lastMatch;
    for (const QSerialPortInfo &info : qAsConst(m_availablePorts)) {
        if (isRecognisedAdapter(info.description(), info.hasVendorIdentifier() && info.hasProductIdentifier(),
                                info.vendorIdentifier(), info.productIdentifier())) {
            names << info.portName();
            lastMatch = info;
        }
    }
    if (names.isEmpty())
        return {};
    m_currentPort = lastMatch;
    if (names.size() > 1) {
        bool confirmed = false;
        const QString chosen = QInputDialog::getItem(qobject_cast<QWidget *>(parent()), QStringLiteral("Port"),
                                                     QStringLiteral("Choose Port:"), names, 0, false, &confirmed);
        if (confirmed && chosen.isEmpty())
            return {};
        for (const QSerialPortInfo &info : qAsConst(m_availablePorts)) {
            if (info.portName() == chosen) {
                m_currentPort = info;
                break;
            }
        }
    }
    return m_currentPort.systemLocation();
}

bool SerialPort::openPort(const QString &portName)
{
    m_port->setPortName(portName);
    m_port->setBaudRate(QSerialPort::Baud115200);
    m_port->setFlowControl(QSerialPort::NoFlowControl);
    if (m_port->isOpen())
        m_port->close();
    if (!m_port->open(QIODevice::ReadWrite))
        return false;
    m_port->setRequestToSend(true);
    m_port->clear();
    m_port->flush();
    m_port->clear();
    m_reader->setPort(m_port);
    m_writer->setPort(m_port);
    connect(m_reader, &SerialPortReader::Alarm, this, &SerialPort::resetToUnlockScreen, Qt::UniqueConnection);
    m_port->setRequestToSend(false);
    m_port->setDataTerminalReady(true);
    return true;
}

// Every message passes this door. A real-time command goes out as its single byte, ahead of everything;
// any other message is one line that must reach GRBL whole: one line end, no character that GRBL would
// take as a real-time command, no more than its buffer holds. A line that can never be sent is refused
// here with a report, instead of blocking everything queued behind it.
void SerialPort::addMessageToWriterReader(SerialMessage *message)
{
    if (!m_connected) {
        SendQueue::release(message);
        return;
    }
    const QString realtime = GrblLine::realtimeCommandOf(message->content());
    if (!realtime.isEmpty())
        message->setContent(realtime);
    if (message->isRealtime()) {
        if (message->content().at(0) == QLatin1Char(softReset)) {
            SendQueue::release(message);
            writeSoftReset();
            return;
        }
        const bool resume = message->content().at(0) == QLatin1Char('~');
        message->setPriority(true);
        m_sendQueue->enqueuePriority(message);
        // Resuming resumes the job too, when an error held it; the cycle start goes out first.
        if (resume)
            m_sendQueue->setHeld(SendQueue::PausedOnError, false);
        return;
    }
    const QString reason = refusalOf(message);
    if (!reason.isEmpty()) {
        refuse(message, reason);
        return;
    }
    if (message->isPriority())
        m_sendQueue->enqueuePriority(message);
    else
        m_sendQueue->enqueue(message);
}

// Gives the message its single line end, or says why it cannot be sent.
QString SerialPort::refusalOf(SerialMessage *message) const
{
    QString line = message->content();
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')))
        return QStringLiteral("it holds more than one line");
    const int unsafe = GrblLine::unsafeCharacterAt(line);
    if (unsafe >= 0)
        return QStringLiteral("it holds %1, which the controller takes as a command")
            .arg(GrblLine::describeCharacter(line.at(unsafe)));
    message->setContent(line + QLatin1Char('\n'));
    const int capacity = SendQueue::InitialBudget + (message->isPriority() ? SendQueue::PriorityHeadroom : 0);
    if (message->length() > capacity)
        return QStringLiteral("it is longer than the %1 characters the controller's buffer holds").arg(capacity);
    return QString();
}

// A refused line is answered as the controller answers a line it rejects: the report, then the
// message's own error handling, so a job still advances and completes.
void SerialPort::refuse(SerialMessage *message, const QString &reason)
{
    QString line = message->content();
    if (!line.endsWith(QLatin1Char('\n')))
        line += QLatin1Char('\n');
    emit info(QStringLiteral("Not sent: ") + reason + QStringLiteral("\nLine:") + QString::number(message->lineNumber())
              + QStringLiteral("\nGcode: ") + line);
    m_reader->reportRefusedWrite(message);
    message->handleResponse(QStringLiteral("error"));
    SendQueue::release(message);
}

void SerialPort::addMessageStringToWriterReader(const QString &content)
{
    if (!m_connected)
        return;
    auto *message = new SerialMessage;
    message->setContent(content);
    if (content.contains(QLatin1String("(PLV:")) && m_sendQueue->isVendorConfirmed()) {
        message->setPriority(true);
        message->setKind(Vendor);
    }
    addMessageToWriterReader(message);
}

// The homing's answer decides the calibration: the start-up moves assume a homed machine, so after a
// failed "$H" (homing disabled, for one) they are not made at all.
void SerialPort::startupSequence()
{
    queueStartupLine(QStringLiteral("(PLV:Version)\n"), Vendor);
    addMessageToWriterReader(m_unlockMessage);
    if (m_unlockOnly)
        queueStartupLine(QStringLiteral("$$\n"), Ordinary);
}

void SerialPort::queueCalibration(bool homed)
{
    if (m_unlockOnly)
        return;
    if (homed) {
        // Clear the offset, make the homed corner the origin, then park the head for the job.
        for (const char *line : {"G92.1\n", "G0X0Y0Z0\n", "G92X0Y0Z0\n", "G0X175\n", "G0X72.5Y145\n", "M8\n"})
            queueStartupLine(QString::fromLatin1(line), Ordinary);
    } else {
        emit info(QStringLiteral("Calibration stopped: the machine could not be homed, so it made no start-up moves.\n"));
    }
    queueStartupLine(QStringLiteral("$$\n"), Ordinary);
}

void SerialPort::queueStartupLine(const QString &text, qint32 kind)
{
    auto *message = new SerialMessage;
    message->setContent(text);
    message->setKind(kind);
    addMessageToWriterReader(message);
}

void SerialPort::writeSoftReset()
{
    m_sendQueue->writeNow(QByteArray(1, softReset));
}

void SerialPort::sendRealtime(char command)
{
    auto *message = new SerialMessage;
    message->setContent(QString(QChar::fromLatin1(command)));
    addMessageToWriterReader(message);
}

void SerialPort::setPauseOnError(bool pause)
{
    m_pauseOnError = pause;
}

// The hold comes while the reader handles the error: no further line of the job goes out, and the
// feed hold reaches GRBL ahead of anything still queued.
void SerialPort::lineFailed(const SerialMessage *message)
{
    if (!m_pauseOnError || message->lineNumber() == 0 || message->isCheckRun())
        return;
    m_sendQueue->setHeld(SendQueue::PausedOnError, true);
    sendRealtime('!');
    emit pausedOnError();
}

void SerialPort::controllerRestarting()
{
    m_sendQueue->setHeld(SendQueue::ControllerRestarting, true);
}

void SerialPort::controllerRestarted()
{
    m_sendQueue->setHeld(SendQueue::ControllerRestarting, false);
    emit restarted();
}

// The controller stops at the reset, and nothing of the job may follow it, not even a line a worker
// is queueing right now. The port stays open until the controller has shown its banner, so that a
// reset it ignored (during the pause after a limit alarm) is repeated; only then does the object go.
void SerialPort::resetConnection(int index)
{
    if (index != 0 || m_closing)
        return;
    m_closing = true;
    m_reader->stopReading();
    const bool wasConnected = m_connected.exchange(false);
    m_sendQueue->close(wasConnected);
    emit closed();
    if (!wasConnected || !m_port->isOpen()) {
        deleteLater();
        return;
    }
    connect(m_port, &QSerialPort::readyRead, this, &SerialPort::watchForBanner);
    m_resetsLeft = ResetAttempts - 1;
    m_resetTimer->start(ResetRepeatMs);
}

void SerialPort::repeatResetUntilBanner()
{
    if (m_resetsLeft-- <= 0) {
        m_resetTimer->stop();
        deleteLater();
        return;
    }
    writeSoftReset();
}

void SerialPort::watchForBanner()
{
    m_closingText = (m_closingText + QString::fromLatin1(m_port->readAll())).right(4 * banner.size());
    if (!m_closingText.contains(banner))
        return;
    m_resetTimer->stop();
    disconnect(m_port, &QSerialPort::readyRead, this, &SerialPort::watchForBanner);
    deleteLater();
}

// A pseudo-terminal refuses the RTS and DTR toggles and a bounded wait can time out; neither means
// the port is gone.
bool SerialPort::endsConnection(QSerialPort::SerialPortError error)
{
    return error != QSerialPort::NoError && error != QSerialPort::UnsupportedOperationError
        && error != QSerialPort::TimeoutError;
}

void SerialPort::resetConnection(QSerialPort::SerialPortError serialPortError)
{
    if (!m_connected || m_closing || !endsConnection(serialPortError))
        return;
    emit info(QStringLiteral("USB connection closed ") + m_port->errorString() + QLatin1Char('\n'));
    m_connected = false;
    resetToUnlockScreen();
}

void SerialPort::resetToUnlockScreen()
{
    emit stopRequested();
}

void SerialPort::msgSentToGRBL(qint64 size)
{
    m_sendQueue->msgSentToGRBL(size);
}

void SerialPort::sendUnlockMsg()
{
    addMessageStringToWriterReader(QStringLiteral("~\n"));
}
