#include "link/serialportreader.h"

#include "app/infodialog.h"
#include "link/grbltexts.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialport.h"
#include "preview/maschine.h"

#include <QSerialPort>
#include <QSet>
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
    Maschine::instance()->setReader(this);
}

SerialPortReader::~SerialPortReader()
{
    if (m_bannerTimer)
        m_bannerTimer->stop();
    // Messages taken from the queue that still waited for their second line are ours to give up.
    const QList<SerialMessage *> held = m_okBeforeProbe + m_awaitingOk;
    for (SerialMessage *message : QSet<SerialMessage *>(held.begin(), held.end()))
        SendQueue::release(message);
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
    if (m_port)
        disconnect(m_port, &QSerialPort::readyRead, this, &SerialPortReader::readData);
    if (m_bannerTimer)
        m_bannerTimer->stop();
}

void SerialPortReader::resetGRBL()
{
    m_connection->addMessageStringToWriterReader(SerialPort::softResetLine());
}

void SerialPortReader::readData()
{
    // GRBL speaks ASCII; Latin-1 turns every byte into one character, so no byte is lost or merged
    // with the next read, whatever arrives (a NUL included: the length is passed explicitly).
    const QByteArray bytes = m_port->readAll();
    m_rxBuffer += QString::fromLatin1(bytes.constData(), bytes.size());
    if (m_rxBuffer.contains(QLatin1String("Check Door")))
        emit InfoDialog::instance()->allPause();
    if (!detectBanner())
        return;
    if (!m_initialised) {
        boundBuffer();
        return;
    }
    QStringList lines = m_rxBuffer.split(m_lineSplitter);
    m_rxBuffer = lines.takeLast();
    if (!m_rxBuffer.contains(banner))
        m_bannerPending = false;
    boundBuffer();
    for (const QString &line : qAsConst(lines))
        handleLine(line);
}

// Returns false when a second banner ended this read: the controller restarted underneath us.
bool SerialPortReader::detectBanner()
{
    if (!m_rxBuffer.contains(banner) || m_bannerPending)
        return true;
    m_bannerPending = true;
    if (m_initialised) {
        InfoDialog::instance()->appendInfo(QStringLiteral("Init Failed: Re-Unlock \n"));
        emit Alarm();
        return false;
    }
    if (m_bannerTimer) {
        m_bannerTimer->stop();
        m_bannerTimer->disconnect(this);
    }
    m_connection->startupSequence();
    m_initialised = true;
    return true;
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

// A line may be several things at once; every test is made.
void SerialPortReader::handleLine(const QString &line)
{
    if (line.contains(QLatin1String("(PLV:")))
        handleVendorLine(line);
    if (isSettingsLine(line))
        handleSettingsLine(line);
    if (line.contains(QLatin1String("[PRB:")))
        handleProbeResult(line);
    if (line.contains(QLatin1Char('<')))
        handleStatusReport(line);
    if (line.contains(QLatin1String("ALARM"), Qt::CaseInsensitive))
        handleAlarm(line);
    if (line.contains(QLatin1String("error"), Qt::CaseInsensitive))
        handleError(line);
    if (line.contains(QLatin1String("ok")))
        handleAcknowledgement();
}

void SerialPortReader::handleVendorLine(const QString &line)
{
    emit usbMessage(line);
    if (SerialMessage *message = m_connection->takeVendorMessage()) {
        message->handleResponse(line);
        SendQueue::release(message);
    }
}

void SerialPortReader::handleSettingsLine(const QString &line)
{
    const QStringList parts = line.split(QLatin1Char('='));
    emit settingsUpdate(parts.at(0), parts.at(1));
}

// A probe answered (by "ok" or an error) before its result line waits in okBeforeProbe for it.
void SerialPortReader::handleProbeResult(const QString &line)
{
    if (m_okBeforeProbe.isEmpty()) {
        if (SerialMessage *message = m_connection->takeProbeMessage()) {
            m_awaitingOk.append(message);
            message->handleResponse(line);
        }
        return;
    }
    SerialMessage *message = m_okBeforeProbe.takeFirst();
    message->handleResponse(line);
    SendQueue::release(message);
}

void SerialPortReader::handleStatusReport(const QString &line)
{
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
    if (SerialMessage *message = m_connection->takeStatusMessage()) {
        m_awaitingOk.append(message);
        message->handleResponse(line);
    }
}

QString SerialPortReader::composeReport(const QString &title, const QString &text, const SerialMessage *message)
{
    return title + text + QStringLiteral("\nLine:") + QString::number(message->lineNumber())
        + QStringLiteral("\nGcode: ") + message->content();
}

void SerialPortReader::handleAlarm(const QString &line)
{
    const QString text = GrblTexts::alarmText(numberAfter(line, QStringLiteral("ALARM:")));
    SerialMessage *message = m_connection->takeAnsweredMessage();
    if (message) {
        InfoDialog::instance()->appendInfo(composeReport(QStringLiteral("Alarm: "), text, message));
        SendQueue::release(message);
    } else {
        InfoDialog::instance()->appendInfo(text);
    }
    emit Alarm();
}

void SerialPortReader::handleError(const QString &line)
{
    const QString text = GrblTexts::errorText(numberAfter(line, QStringLiteral("error:")));
    SerialMessage *message = m_awaitingOk.isEmpty() ? m_connection->takeAnsweredMessage() : m_awaitingOk.takeFirst();
    if (!message)
        return;
    reportSettingsWrite(message, false);
    const bool probe = message->kind() == Probe;
    if (probe)
        m_okBeforeProbe.append(message);
    const QString report = composeReport(QStringLiteral("Error: "), text, message);
    if (message->isCheckRun())
        emit InfoDialog::instance()->testError(report);
    else
        InfoDialog::instance()->appendInfo(report);
    message->handleResponse(QStringLiteral("error"));
    if (!probe)
        SendQueue::release(message);
}

void SerialPortReader::handleAcknowledgement()
{
    if (!m_awaitingOk.isEmpty()) {
        SerialMessage *message = m_awaitingOk.takeFirst();
        message->handleResponse(QStringLiteral("ok"));
        SendQueue::release(message);
        return;
    }
    SerialMessage *message = m_connection->takeAnsweredMessage();
    if (!message)
        return;
    reportSettingsWrite(message, true);
    const bool probe = message->kind() == Probe;
    if (probe)
        m_okBeforeProbe.append(message);
    message->handleResponse(QStringLiteral("ok"));
    if (!probe)
        SendQueue::release(message);
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
