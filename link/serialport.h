#pragma once

#include <QObject>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <atomic>

class QTimer;
class SendQueue;
class StatusPoller;
class SerialMessage;
class SerialPortReader;
class SerialPortWriter;
class StayAwake;
class UnlockSerialMessage;

// The one connection to the machine's controller: finds and opens the port, owns the send queue and
// the reader, queues the start-up commands once the controller has announced itself, and tears itself
// down when asked to. It reports by signals and leaves it to the window to decide what follows: an
// alarm, a lost port or a restarted controller ask for the start page; the tear-down announces that
// nobody may use the connection any more.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    // The longest the connection keeps the port after its tear-down, repeating the soft reset until
    // the controller shows its banner: GRBL ignores a reset in the 500 ms after a limit alarm.
    static constexpr int ResetRepeatMs = 300;
    static constexpr int ResetAttempts = 10;

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    bool connectToMachine();
    bool isConnected() const { return m_connected; }
    // The tear-down has begun; the object deletes itself once the controller has taken the reset.
    bool isClosing() const { return m_closing; }
    void setUnlockOnly(bool unlockOnly);

    void addMessageToWriterReader(SerialMessage *message);
    void addMessageStringToWriterReader(const QString &content);

    // Run by the reader when the controller's banner is first seen.
    void startupSequence();
    // GRBL's soft reset, written at once: it is no line and draws no answer.
    void writeSoftReset();
    // One of GRBL's real-time commands (feed hold, overrides ...), ahead of every queued line.
    void sendRealtime(char command);

    // On: a job line answered with an error holds the job at once (feed hold, nothing more sent) until
    // the operator resumes ("~") or stops. Off: the job runs on past its errors.
    void setPauseOnError(bool pause);

    // Called by the reader.
    void lineFailed(const SerialMessage *message);
    void controllerRestarting();
    void controllerRestarted();

    SendQueue *sendQueue() const { return m_sendQueue; }
    SerialPortReader *reader() const { return m_reader; }
    QSerialPort *port() const { return m_port; }
    QSerialPortInfo currentPort() const { return m_currentPort; }

    // An adapter of the kind the machine's board carries, by driver description or USB ids.
    static bool isRecognisedAdapter(const QString &description, bool hasIds, quint16 vendorId, quint16 productId);

Q_SIGNALS:
    // A text for the info dialog.
    void info(QString text);
    // An error answering a line of a check run.
    void testError(QString error);
    // The controller reported an opened safety door: every job pauses.
    void doorMessage();
    // An alarm, a lost port or a restarted controller: the session is over, back to the start page.
    void stopRequested();
    // The tear-down has begun: nobody may queue on this connection any more.
    void closed();
    // A job line failed and the job is held.
    void pausedOnError();
    // GRBL reset itself on leaving check mode and is ready again; its parser state is the default one.
    void restarted();

public Q_SLOTS:
    // Index 0 (the start page) tears the connection down; any other index is ignored.
    void resetConnection(int index);
    void resetConnection(QSerialPort::SerialPortError serialPortError);
    void resetToUnlockScreen();
    void msgSentToGRBL(qint64 size);
    void sendUnlockMsg();

private:
    QString choosePortName();
    bool openPort(const QString &portName);
    void queueStartupLine(const QString &text, qint32 kind);
    void queueCalibration(bool homed);
    QString refusalOf(SerialMessage *message) const;
    void refuse(SerialMessage *message, const QString &reason);
    void repeatResetUntilBanner();
    void watchForBanner();
    static bool endsConnection(QSerialPort::SerialPortError error);

    SendQueue *m_sendQueue;
    StayAwake *m_stayAwake;
    QSerialPort *m_port;
    SerialPortReader *m_reader;
    SerialPortWriter *m_writer;
    UnlockSerialMessage *m_unlockMessage;
    StatusPoller *m_statusPoller;
    QTimer *m_resetTimer;
    QList<QSerialPortInfo> m_availablePorts;
    QSerialPortInfo m_currentPort;
    QString m_closingText;
    int m_resetsLeft = 0;
    std::atomic_bool m_connected{false};   // read by producers on worker threads
    bool m_unlockOnly = false;
    bool m_closing = false;
    bool m_pauseOnError = true;
};
