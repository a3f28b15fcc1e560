#pragma once

#include <QObject>
#include <QRegularExpression>
#include <QString>

#include "link/machinestatus.h"

class QSerialPort;
class QTimer;
class SendQueue;
class SerialMessage;
class SerialPort;

// Turns the controller's byte stream into lines, recognises each kind of line GRBL and the vendor
// extension produce, gives every answer to the queued message it belongs to, and reports errors,
// alarms, settings, positions and vendor lines.
//
// GRBL prints its answers as lines of their own: "ok", "error:N", "ALARM:N", and answers the lines in
// its buffer in the order they arrived, so each belongs to the oldest line still unanswered. Text inside
// other lines is never an answer: a startup block echo (">G21:ok"), a build info or a startup line
// listed by "$I" or "$N", a vendor reply.
class SerialPortReader : public QObject
{
    Q_OBJECT
public:
    // A controller that never ends its lines must not make the buffer grow without end: only the
    // newest text is kept, far more than any line GRBL or the vendor extension prints.
    static constexpr int RxBufferLimit = 4096;

    explicit SerialPortReader(SerialPort *connection, QObject *parent = nullptr);
    ~SerialPortReader() override;

    void setPort(QSerialPort *port);
    // The connection ends: nothing more is read, not even the rest of the read being handled.
    void stopReading();

    bool isInitialised() const { return m_initialised; }
    const MachineStatus &status() const { return m_status; }
    QString rxBuffer() const { return m_rxBuffer; }

    // A settings write that the connection refused to send is reported as refused.
    void reportRefusedWrite(const SerialMessage *message);

    // "$" number "=" value, but neither "$$" nor a jog.
    static bool isSettingsLine(const QString &line);

Q_SIGNALS:
    void Alarm();
    void settingsUpdate(QString nr, QString value);
    void settingsSuccess(QString nr, QString value, bool status);
    void updatePosition(float x, float y, float z);
    // Every status report, with what earlier reports told of the fields this one leaves out.
    void statusUpdate(const MachineStatus &status);
    void usbMessage(QString message);
    // A text for the info dialog: an error, an alarm, a restarted controller.
    void info(QString text);
    // An error answering a line of a check run.
    void testError(QString error);
    // The controller reported that the safety door was opened.
    void doorMessage();

public Q_SLOTS:
    void resetGRBL();

private:
    void readData();
    void readAvailable();
    void initialise();
    bool handleBanner();
    void boundBuffer();
    void handleLine(const QString &line);
    void handleVendorLine(const QString &line);
    void handleSettingsLine(const QString &line);
    void handleProbeResult(const QString &line);
    void handleStatusReport(const QString &line);
    void handleAlarm(const QString &line);
    void handleError(const QString &line);
    void handleAcknowledgement();
    void handleFeedback(const QString &line);
    void reportSettingsWrite(const SerialMessage *message, bool success);
    SendQueue *queue() const;
    static QString composeReport(const QString &title, const QString &text, const SerialMessage *message);

    SerialPort *m_connection;
    QSerialPort *m_port = nullptr;
    QRegularExpression m_lineSplitter{QStringLiteral("(\r\n)")};
    QString m_rxBuffer;
    bool m_initialised = false;
    // Leaving check mode resets GRBL: its next banner is expected, no restart.
    bool m_restartExpected = false;
    MachineStatus m_status;
    bool m_reading = false;
    bool m_stopped = false;
    QTimer *m_bannerTimer = nullptr;
};
