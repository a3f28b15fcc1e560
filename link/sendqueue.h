#pragma once

#include <atomic>

#include <QList>
#include <QMutex>
#include <QObject>

class QIODevice;
class SerialMessage;

// The connection's send queue: writes each queued line when the controller's receive buffer has room
// (character counting against a budget), lets priority lines overtake, and hands back the message a
// response belongs to. Producers may queue from worker threads; writing always happens on the thread
// the queue lives in, which owns the port.
class SendQueue : public QObject
{
    Q_OBJECT
public:
    // Three characters below GRBL's 128 leave room for the real-time bytes that bypass the count.
    static constexpr int InitialBudget = 125;

    explicit SendQueue(QObject *parent = nullptr);
    ~SendQueue() override;

    void setDevice(QIODevice *device);

    void enqueue(SerialMessage *message);
    void enqueuePriority(SerialMessage *message);

    SerialMessage *takeAnsweredMessage();
    SerialMessage *takeProbeMessage();
    SerialMessage *takeStatusMessage();
    SerialMessage *takeVendorMessage();

    // Drops every queued message unwritten and returns to the initial state.
    void clear();
    // Drops the ordinary lines not yet written; priority lines (a soft reset) still go out.
    void dropWaitingLines();
    // Writes past the queue, the line in flight and the EEPROM wait: for the soft reset that ends
    // a connection, which GRBL takes at any moment and which must not wait for a write report.
    void writeNow(const QByteArray &bytes);

    bool isVendorConfirmed() const;
    int sendBudget() const;
    bool isInFlight() const;
    int count() const;

    // Lines after which GRBL writes its EEPROM and stops serving the serial port for a while.
    static bool writesEeprom(const QString &line);
    // Gives up a message the link is done with, unless something else owns it.
    static void release(SerialMessage *message);

public Q_SLOTS:
    void trySend();
    void msgSentToGRBL(qint64 size);

Q_SIGNALS:
    // true while messages are queued, false once the queue is found empty.
    void keepAwake(bool awake);

private:
    void adopt(SerialMessage *message);
    void writeNextLocked();
    SerialMessage *takeFirstSentOfKind(qint32 kind);
    SerialMessage *takeAtLocked(int index);
    bool isAnswerableLocked(const SerialMessage *message) const;
    void followQueueWithStayAwake();
    void sendPosted();

    mutable QMutex m_lock;
    QList<SerialMessage *> m_sendQueue;
    int m_sendBudget = InitialBudget;
    bool m_inFlight = false;
    quint32 m_writeCounter = 0;
    quint32 m_currentWriteSize = 0;
    const SerialMessage *m_eepromWriteUnanswered = nullptr;
    bool m_vendorConfirmed = false;
    QIODevice *m_device = nullptr;
    bool m_awakeRequested = false;   // touched on the queue's own thread only
    std::atomic<bool> m_trySendPosted{false};
};
