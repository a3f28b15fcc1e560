#include "link/serialportreader.h"

#include "link/grbltexts.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialport.h"
#include "preview/maschine.h"

#include <QSerialPort>
#include <QTimer>

namespace {
const QString banner = QStringLiteral("['$' for help]");

int numberAfter(QString line, const QString &prefix)
{
    return line.remove(prefix).toInt();
}
}

SerialPortReader::SerialPortReader(SerialPort *connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    qRegisterMetaType<MachineStatus>();
    Maschine::instance()->setReader(this);
}

SerialPortReader::~SerialPortReader()
{
    if (m_bannerTimer)
        m_bannerTimer->stop();
    if (Maschine::instance()->reader() == this)
        Maschine::instance()->setReader(nullptr);
}

void SerialPortReader::setPort(QSerialPort *port)
{
    m_port = port;
    connect(m_port, &QSerialPort::readyRead, this, &SerialPortReader::readData, Qt::UniqueConnection);
    if (!m_bannerTimer) {
        m_bannerTimer = new QTimer(this);
        m_bannerTimer->setSingleShot(true);
        connect(m_bannerTimer, &QTimer::timeout, this, &SerialPortReader::resetGRBL);
    }
    m_bannerTimer->start(5000);
}

void SerialPortReader::stopReading()
{
    m_stopped = true;
    if (m_port)
        disconnect(m_port, &QSerialPort::readyRead, this, &SerialPortReader::readData);
    if (m_bannerTimer)
        m_bannerTimer->stop();
}

void SerialPortReader::resetGRBL()
{
    m_connection->writeSoftReset();
}

SendQueue *SerialPortReader::queue() const
{
    return m_connection->sendQueue();
}

// A handler may run a local event loop (a message box); bytes that arrive meanwhile stay in the port
// and are read here afterwards, in order, instead of re-entering the line routine half way through.
void SerialPortReader::readData()
{
    if (m_reading)
        return;
    m_reading = true;
    while (!m_stopped && m_port->bytesAvailable() > 0)
        readAvailable();
    m_reading = false;
}

void SerialPortReader::readAvailable()
{
    // GRBL speaks ASCII; Latin-1 turns every byte into one character, so no byte is lost or merged
    // with the next read, whatever arrives (a NUL included: the length is passed explicitly).
    const QByteArray bytes = m_port->readAll();
    m_rxBuffer += QString::fromLatin1(bytes.constData(), bytes.size());
    if (!m_initialised) {
        const int at = m_rxBuffer.indexOf(banner);
        if (at < 0) {
            boundBuffer();
            return;
        }
        // Text before the first banner was held until now and is handled as lines; the banner is none.
        m_rxBuffer.remove(at, banner.size());
        initialise();
    }
    QStringList lines = m_rxBuffer.split(m_lineSplitter);
    m_rxBuffer = lines.takeLast();
    boundBuffer();
    for (const QString &line : qAsConst(lines)) {
        if (m_stopped)
            return;
        if (!line.contains(banner))
            handleLine(line);
        else if (!handleBanner())
            return;
    }
}

void SerialPortReader::initialise()
{
    if (m_bannerTimer) {
        m_bannerTimer->stop();
        m_bannerTimer->disconnect(this);
    }
    m_connection->startupSequence();
    m_initialised = true;
}

// A banner while running: expected once check mode ends, else the controller restarted underneath us
// and the session is over (false).
bool SerialPortReader::handleBanner()
{
    if (m_restartExpected) {
        m_restartExpected = false;
        m_connection->controllerRestarted();
        return true;
    }
    emit info(QStringLiteral("Init Failed: Re-Unlock \n"));
    emit Alarm();
    return false;
}

void SerialPortReader::boundBuffer()
{
    if (m_rxBuffer.size() > RxBufferLimit)
        m_rxBuffer = m_rxBuffer.right(RxBufferLimit);
}

bool SerialPortReader::isSettingsLine(const QString &line)
{
    return line.contains(QLatin1Char('$')) && !line.contains(QLatin1String("$$"))
        && !line.contains(QLatin1String("$J")) && line.split(QLatin1Char('=')).size() == 2;
}

// A line may be several things at once; every test is made. A startup block's echo (">G21:ok") reports
// a line GRBL ran by itself and answers none of ours.
void SerialPortReader::handleLine(const QString &line)
{
    if (line.startsWith(QLatin1Char('>')))
        return;
    if (line.startsWith(QLatin1String("[MSG:")))
        handleFeedback(line);
    if (line.contains(QLatin1String("(PLV:")))
        handleVendorLine(line);
    if (isSettingsLine(line))
        handleSettingsLine(line);
    if (line.contains(QLatin1String("[PRB:")))
        handleProbeResult(line);
    // A status report in the alarm state is no new alarm: a board that boots locked reports "Alarm"
    // until it is homed or unlocked; the ALARM line itself is what counts.
    if (line.startsWith(QLatin1Char('<')))
        handleStatusReport(line);
    else if (line.startsWith(QLatin1String("ALARM"), Qt::CaseInsensitive))
        handleAlarm(line);
    else if (line.startsWith(QLatin1String("error"), Qt::CaseInsensitive))
        handleError(line);
    else if (line == QLatin1String("ok"))
        handleAcknowledgement();
}

void SerialPortReader::handleVendorLine(const QString &line)
{
    emit usbMessage(line);
    if (SerialMessage *message = queue()->takeVendorMessage()) {
        message->handleResponse(line);
        SendQueue::release(message);
    }
}

void SerialPortReader::handleSettingsLine(const QString &line)
{
    const QStringList parts = line.split(QLatin1Char('='));
    emit settingsUpdate(parts.at(0), parts.at(1));
}

// GRBL runs a probe alone, so its result comes while the probe is the oldest unanswered line; the
// probe keeps its place until the "ok" that follows. A "[PRB:" line answering anything else (the
// parameters "$#" lists) is no probe result.
void SerialPortReader::handleProbeResult(const QString &line)
{
    SerialMessage *message = queue()->oldestUnanswered();
    if (message && message->kind() == Probe)
        message->handleResponse(line);
}

// GRBL merges status requests that arrive close together into one report, so a report answers every
// query waiting for one.
void SerialPortReader::handleStatusReport(const QString &line)
{
    if (m_status.update(line))
        emit statusUpdate(m_status);
    const QStringList fields = line.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    for (QString field : fields) {
        if (!field.contains(QLatin1String("MPos:")))
            continue;
        // The closing bracket of the report is no part of the last value.
        field.remove(QLatin1String("MPos:")).remove(QLatin1Char('>'));
        const QStringList values = field.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (values.size() == 3)
            emit updatePosition(values.at(0).toFloat(), values.at(1).toFloat(), values.at(2).toFloat());
    }
    while (SerialMessage *message = queue()->takeStatusMessage()) {
        message->handleResponse(line);
        SendQueue::release(message);
    }
}

QString SerialPortReader::composeReport(const QString &title, const QString &text, const SerialMessage *message)
{
    return title + text + QStringLiteral("\nLine:") + QString::number(message->lineNumber())
        + QStringLiteral("\nGcode: ") + message->content();
}

// An alarm interrupts the oldest unanswered line but is no answer to it: that line still gets its own
// "ok" (a probe that missed: "ALARM:5", its result, "ok"), or none when GRBL resets.
void SerialPortReader::handleAlarm(const QString &line)
{
    const QString text = GrblTexts::alarmText(numberAfter(line, QStringLiteral("ALARM:")));
    if (const SerialMessage *message = queue()->oldestUnanswered())
        emit info(composeReport(QStringLiteral("Alarm: "), text, message));
    else
        emit info(text);
    emit Alarm();
}

void SerialPortReader::handleError(const QString &line)
{
    const QString text = GrblTexts::errorText(numberAfter(line, QStringLiteral("error:")));
    SerialMessage *message = queue()->takeAnsweredMessage();
    if (!message)
        return;
    m_connection->lineFailed(message);
    reportSettingsWrite(message, false);
    const QString report = composeReport(QStringLiteral("Error: "), text, message);
    if (message->isCheckRun())
        emit testError(report);
    else
        emit info(report);
    message->handleResponse(QStringLiteral("error"));
    SendQueue::release(message);
}

void SerialPortReader::handleAcknowledgement()
{
    SerialMessage *message = queue()->takeAnsweredMessage();
    if (!message)
        return;
    reportSettingsWrite(message, true);
    message->handleResponse(QStringLiteral("ok"));
    SendQueue::release(message);
}

// "Check Door": the safety door opened. "Disabled": check mode ends, and with it GRBL resets; what is
// sent before its banner would be thrown away with its input.
void SerialPortReader::handleFeedback(const QString &line)
{
    if (line.contains(QLatin1String("Check Door")))
        emit doorMessage();
    if (line == QLatin1String("[MSG:Disabled]")) {
        m_restartExpected = true;
        m_connection->controllerRestarting();
    }
}

void SerialPortReader::reportRefusedWrite(const SerialMessage *message)
{
    reportSettingsWrite(message, false);
}

// The number and value come from the message's own text, so the value keeps its line end.
void SerialPortReader::reportSettingsWrite(const SerialMessage *message, bool success)
{
    if (!isSettingsLine(message->content()))
        return;
    const QStringList parts = message->content().split(QLatin1Char('='));
    emit settingsSuccess(parts.at(0), parts.at(1), success);
    if (success)
        emit settingsUpdate(parts.at(0), parts.at(1));
}
