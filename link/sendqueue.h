#pragma once

#include <atomic>

#include <QList>
#include <QMutex>
#include <QObject>

class QIODevice;
class SerialMessage;

// The connection's send queue: writes each queued line when the controller's receive buffer has room
// (character counting against a budget), lets priority lines overtake, and hands back the message a
// response belongs to. GRBL answers the lines in its buffer strictly in the order they arrived, so every
// answer belongs to the oldest line still unanswered. Real-time commands (a lone "?", "!", "~", 0x85 ...)
// never enter GRBL's buffer and are never answered: they go out ahead of everything, outside the count.
// Producers may queue from worker threads; writing always happens on the thread the queue lives in,
// which owns the port.
class SendQueue : public QObject
{
    Q_OBJECT
public:
    // Characters assumed free in GRBL's receive buffer when nothing is in it.
    static constexpr int InitialBudget = 125;
    // GRBL's 128-character ring buffer holds 127: a priority line (a jog cancel's line end, a vendor
    // request) may use the two characters beyond the budget, but no more.
    static constexpr int PriorityHeadroom = 2;

    // Why lines are held back; real-time commands still go out.
    enum Hold : quint8 {
        PausedOnError = 1,          // a job line failed and the job waits for the operator
        ControllerRestarting = 2,   // GRBL resets itself (leaving check mode) and drops what arrives meanwhile
    };

    explicit SendQueue(QObject *parent = nullptr);
    ~SendQueue() override;

    void setDevice(QIODevice *device);

    void enqueue(SerialMessage *message);
    void enqueuePriority(SerialMessage *message);

    // The oldest line awaiting "ok" or "error:", taken from the queue; none when nothing is unanswered.
    SerialMessage *takeAnsweredMessage();
    // The oldest line awaiting an answer, left in the queue (a probe receives its result line first).
    SerialMessage *oldestUnanswered() const;
    SerialMessage *takeStatusMessage();
    SerialMessage *takeVendorMessage();

    // Drops every queued message unwritten and returns to the initial state.
    void clear();
    // Ends the queue for good: everything queued is dropped, the soft reset (when asked for) is written
    // at once, past the line in flight and the EEPROM wait, as GRBL takes it at any moment; whatever is
    // queued afterwards, even by a worker that is still running, is dropped unwritten.
    void close(bool softReset);
    bool isClosed() const;
    // Writes past the queue, for a soft reset repeated while the connection closes.
    void writeNow(const QByteArray &bytes);

    void setHeld(Hold reason, bool held);
    bool isHeld() const;

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
    bool placeLocked(SerialMessage *message, int index);
    SerialMessage *writeNextLocked();
    bool fitsLocked(const SerialMessage *message) const;
    void writeLocked(const QByteArray &bytes);
    int firstUnansweredLocked() const;
    SerialMessage *takeFirstSentOfKind(qint32 kind);
    SerialMessage *takeAtLocked(int index);
    bool awaitsOkLocked(const SerialMessage *message) const;
    static int bufferCost(const SerialMessage *message);
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
    bool m_closed = false;
    quint8 m_held = 0;
    QIODevice *m_device = nullptr;
    bool m_awakeRequested = false;   // touched on the queue's own thread only
    std::atomic<bool> m_trySendPosted{false};
};
