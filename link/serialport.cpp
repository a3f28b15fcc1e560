#include "link/serialport.h"

#include "app/infodialog.h"
#include "app/mainwindow.h"
#include "link/checkdoormessage.h"
#include "link/sendqueue.h"
#include "link/serialmessage.h"
#include "link/serialportreader.h"
#include "link/serialportwriter.h"
#include "link/stayawake.h"
#include "link/unlockserialmessage.h"
#include "preview/maschine.h"

#include <QInputDialog>
#include <QRegularExpression>
#include <QStackedWidget>

namespace {
// The window the latest connection was attached to; later connections bind to it on construction.
QPointer<MainWindow> knownMainWindow;
}

SerialPort::SerialPort(QObject *parent)
    : QObject(parent)
    , m_sendQueue(new SendQueue(this))
    , m_stayAwake(new StayAwake(this))
    , m_port(new QSerialPort(this))
    , m_reader(new SerialPortReader(this, this))
    , m_writer(new SerialPortWriter(this, this))
    , m_unlockMessage(new UnlockSerialMessage(this))
{
    m_sendQueue->setDevice(m_port);
    connect(m_sendQueue, &SendQueue::keepAwake, m_stayAwake, &StayAwake::setAwake);
    // Queued: the port reports a failed write from inside the send queue's locked write, and the
    // tear-down it starts needs that lock. A failed open is over (connected cleared) before this runs.
    m_portErrorConnection = connect(m_port, &QSerialPort::errorOccurred, this,
                                    qOverload<QSerialPort::SerialPortError>(&SerialPort::resetConnection),
                                    Qt::QueuedConnection);
    connect(m_port, &QSerialPort::bytesWritten, this, &SerialPort::msgSentToGRBL, Qt::QueuedConnection);
    connect(CheckDoorMessage::instance(), &CheckDoorMessage::unlock, this, &SerialPort::sendUnlockMsg);
    if (knownMainWindow) {
        m_mainWindow = knownMainWindow;
        bindToMainWindow();
    }
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

void SerialPort::attachMainWindow(MainWindow *mainWindow)
{
    knownMainWindow = mainWindow;
    m_mainWindow = mainWindow;
    bindToMainWindow();
}

void SerialPort::bindToMainWindow()
{
    disconnect(m_pageStackConnection);
    m_pageStackConnection = connect(m_mainWindow->pageStack(), &QStackedWidget::currentChanged, this,
                                    qOverload<int>(&SerialPort::resetConnection));
}

void SerialPort::setUnlockOnly(bool unlockOnly)
{
    m_unlockOnly = unlockOnly;
    m_unlockMessage->setUnlockOnly(unlockOnly);
}

QString SerialPort::softResetLine()
{
    return QString(QChar(0x18)) + QLatin1Char('\n');
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
        const QString chosen = QInputDialog::getItem(m_mainWindow, QStringLiteral("Port"),
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

void SerialPort::addMessageToWriterReader(SerialMessage *message)
{
    if (!m_connected) {
        SendQueue::release(message);
        return;
    }
    if (message->isPriority())
        m_sendQueue->enqueuePriority(message);
    else
        m_sendQueue->enqueue(message);
}

void SerialPort::addMessageStringToWriterReader(const QString &content)
{
    if (!m_connected)
        return;
    static const QRegularExpression realTime(QStringLiteral("[!~?\\x18]\\n"));
    auto *message = new SerialMessage;
    message->setContent(content);
    if (content.contains(QLatin1String("(PLV:")) && m_sendQueue->isVendorConfirmed()) {
        message->setPriority(true);
        message->setKind(Vendor);
        m_sendQueue->enqueuePriority(message);
    } else if (realTime.match(content).hasMatch()) {
        message->setPriority(true);
        m_sendQueue->enqueuePriority(message);
    } else {
        m_sendQueue->enqueue(message);
    }
}

void SerialPort::startupSequence()
{
    queueStartupLine(QStringLiteral("(PLV:Version)\n"), Vendor);
    addMessageToWriterReader(m_unlockMessage);
    if (!m_unlockOnly) {
        // Home, clear the offset, make the homed corner the origin, then park the head for the job.
        for (const char *line : {"G92.1\n", "G0X0Y0Z0\n", "G92X0Y0Z0\n", "G0X175\n", "G0X72.5Y145\n", "M8\n"})
            queueStartupLine(QString::fromLatin1(line), Ordinary);
    }
    queueStartupLine(QStringLiteral("$$\n"), Ordinary);
}

void SerialPort::queueStartupLine(const QString &text, qint32 kind)
{
    if (!m_connected)
        return;
    auto *message = new SerialMessage;
    message->setContent(text);
    message->setKind(kind);
    m_sendQueue->enqueue(message);
}

SerialMessage *SerialPort::takeAnsweredMessage()
{
    return m_sendQueue->takeAnsweredMessage();
}

SerialMessage *SerialPort::takeProbeMessage()
{
    return m_sendQueue->takeProbeMessage();
}

SerialMessage *SerialPort::takeStatusMessage()
{
    return m_sendQueue->takeStatusMessage();
}

SerialMessage *SerialPort::takeVendorMessage()
{
    return m_sendQueue->takeVendorMessage();
}

void SerialPort::resetConnection(int index)
{
    if (index != 0 || m_closing)
        return;
    // Whatever the controller prints after the reset (its banner) belongs to no one any more.
    m_reader->stopReading();
    m_connected = false;
    // The connection lives on until its deletion comes round; nothing of the job may follow the
    // reset, and the reset waits for nothing: a queued reset could sit behind a write whose report
    // comes only after the port is closed, and the machine would run on with its buffered lines.
    m_sendQueue->dropWaitingLines();
    m_sendQueue->writeNow(softResetLine().toLatin1());
    if (m_port->isOpen())
        m_port->waitForBytesWritten(1000);
    disconnect(m_pageStackConnection);
    disconnect(m_portErrorConnection);
    if (m_mainWindow)
        m_mainWindow->forgetConnection(nullptr);
    m_closing = true;
    if (m_mainWindow)
        emit m_mainWindow->signal_reset();
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
    InfoDialog::instance()->appendInfo(QStringLiteral("USB connection closed ") + m_port->errorString()
                                       + QLatin1Char('\n'));
    m_connected = false;
    resetToUnlockScreen();
}

void SerialPort::resetToUnlockScreen()
{
    if (m_mainWindow)
        m_mainWindow->showStartPage();
}

void SerialPort::msgSentToGRBL(qint64 size)
{
    m_sendQueue->msgSentToGRBL(size);
}

void SerialPort::sendUnlockMsg()
{
    addMessageStringToWriterReader(QStringLiteral("~\n"));
}
