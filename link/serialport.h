#pragma once

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <atomic>

class MainWindow;
class SendQueue;
class SerialMessage;
class SerialPortReader;
class SerialPortWriter;
class StayAwake;
class UnlockSerialMessage;

// The one connection to the machine's controller: finds and opens the port, owns the send queue and
// the reader, queues the start-up commands once the controller has announced itself, and tears itself
// down when the user returns to the start page, when the port fails or when the controller alarms.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    bool connectToMachine();
    bool isConnected() const { return m_connected; }
    void setUnlockOnly(bool unlockOnly);
    void attachMainWindow(MainWindow *mainWindow);

    void addMessageToWriterReader(SerialMessage *message);
    void addMessageStringToWriterReader(const QString &content);

    // Run by the reader when the controller's banner is first seen.
    void startupSequence();

    SerialMessage *takeAnsweredMessage();
    SerialMessage *takeProbeMessage();
    SerialMessage *takeStatusMessage();
    SerialMessage *takeVendorMessage();

    SendQueue *sendQueue() const { return m_sendQueue; }
    SerialPortReader *reader() const { return m_reader; }
    QSerialPort *port() const { return m_port; }
    QSerialPortInfo currentPort() const { return m_currentPort; }

    // GRBL's soft reset (0x18) as a line of its own.
    static QString softResetLine();

    // An adapter of the kind the machine's board carries, by driver description or USB ids.
    static bool isRecognisedAdapter(const QString &description, bool hasIds, quint16 vendorId, quint16 productId);

public Q_SLOTS:
    void resetConnection(int index);
    void resetConnection(QSerialPort::SerialPortError serialPortError);
    void resetToUnlockScreen();
    void msgSentToGRBL(qint64 size);
    void sendUnlockMsg();

private:
    void bindToMainWindow();
    QString choosePortName();
    bool openPort(const QString &portName);
    void queueStartupLine(const QString &text, qint32 kind);
    static bool endsConnection(QSerialPort::SerialPortError error);

    SendQueue *m_sendQueue;
    StayAwake *m_stayAwake;
    QSerialPort *m_port;
    SerialPortReader *m_reader;
    SerialPortWriter *m_writer;
    UnlockSerialMessage *m_unlockMessage;
    QList<QSerialPortInfo> m_availablePorts;
    QSerialPortInfo m_currentPort;
    QPointer<MainWindow> m_mainWindow;
    QMetaObject::Connection m_pageStackConnection;
    QMetaObject::Connection m_portErrorConnection;
    std::atomic_bool m_connected{false};   // read by producers on worker threads
    bool m_unlockOnly = false;
    bool m_closing = false;
};
