#include "link/sendqueue.h"

#include "link/checkdoormessage.h"
#include "link/gcodeserialmessage.h"
#include "link/pcbserialmessage.h"
#include "link/serialmessage.h"
#include "link/stlserialmessage.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSerialPort>
#include <QThread>

SendQueue::SendQueue(QObject *parent)
    : QObject(parent)
{
}

SendQueue::~SendQueue()
{
    clear();
}

void SendQueue::setDevice(QIODevice *device)
{
    QMutexLocker lock(&m_lock);
    m_device = device;
}

void SendQueue::enqueue(SerialMessage *message)
{
    adopt(message);
    bool placed;
    {
        QMutexLocker lock(&m_lock);
        placed = placeLocked(message, m_sendQueue.size());
    }
    if (!placed)
        release(message);
    trySend();
}

// A real-time command overtakes every unsent line; another priority line overtakes the ordinary ones.
void SendQueue::enqueuePriority(SerialMessage *message)
{
    adopt(message);
    const bool realtime = message->isRealtime();
    bool placed;
    {
        QMutexLocker lock(&m_lock);
        int index = 0;
        while (index < m_sendQueue.size()
               && (m_sendQueue.at(index)->isSent() || (!realtime && m_sendQueue.at(index)->isPriority())))
            ++index;
        placed = placeLocked(message, index);
    }
    if (!placed)
        release(message);
    trySend();
}

// A closed queue takes nothing: a worker that passed its own connected check just before the soft
// reset must not get a line out after it.
bool SendQueue::placeLocked(SerialMessage *message, int index)
{
    if (m_closed)
        return false;
    m_sendQueue.insert(index, message);
    return true;
}

// A message made on a worker thread is moved here, so that its signals and its release run on the
// thread that answers it.
void SendQueue::adopt(SerialMessage *message)
{
    if (message->thread() != thread() && message->thread() == QThread::currentThread())
        message->moveToThread(thread());
}

// The port belongs to the queue's thread: a send asked for elsewhere is carried out there.
void SendQueue::trySend()
{
    if (QThread::currentThread() != thread()) {
        // One pending hand-over serves every line queued meanwhile: a worker filling the queue with a
        // large program must not wake the GUI thread once per line.
        if (!m_trySendPosted.exchange(true))
            QMetaObject::invokeMethod(this, &SendQueue::sendPosted, Qt::QueuedConnection);
        return;
    }
    SerialMessage *done;
    {
        QMutexLocker lock(&m_lock);
        done = writeNextLocked();
    }
    release(done);
    followQueueWithStayAwake();
}

void SendQueue::sendPosted()
{
    m_trySendPosted = false;
    trySend();
}

// The request to keep the computer awake follows the queue: made while anything is queued, withdrawn
// when the queue is found empty. Evaluated on the queue's thread only, so requests never cross.
void SendQueue::followQueueWithStayAwake()
{
    const bool busy = count() > 0;
    if (busy == m_awakeRequested)
        return;
    m_awakeRequested = busy;
    emit keepAwake(busy);
}

int SendQueue::bufferCost(const SerialMessage *message)
{
    return message->isRealtime() ? 0 : message->length();
}

bool SendQueue::fitsLocked(const SerialMessage *message) const
{
    const int cost = bufferCost(message);
    if (message->isRealtime())
        return true;
    return cost <= m_sendBudget + (message->isPriority() ? PriorityHeadroom : 0);
}

// Writes the first unsent message when the controller can take it. A real-time command that needs no
// answer is done once written: it is returned for release.
SerialMessage *SendQueue::writeNextLocked()
{
    if (m_inFlight || !m_device || !m_device->isOpen())
        return nullptr;
    // GRBL does not serve its serial port while it writes its EEPROM: such a line goes out alone,
    // after every earlier answer, and nothing follows it, not even a real-time command, until its own
    // answer is back.
    if (m_eepromWriteUnanswered)
        return nullptr;
    int index = 0;
    while (index < m_sendQueue.size() && m_sendQueue.at(index)->isSent())
        ++index;
    if (index == m_sendQueue.size())
        return nullptr;
    SerialMessage *next = m_sendQueue.at(index);
    if (!fitsLocked(next) || (m_held && !next->isRealtime()))
        return nullptr;
    const bool eeprom = writesEeprom(next->content());
    if (eeprom && firstUnansweredLocked() >= 0)
        return nullptr;

    m_sendBudget -= bufferCost(next);
    if (eeprom)
        m_eepromWriteUnanswered = next;
    const QByteArray bytes = next->toBytes();
    m_currentWriteSize = quint32(bytes.size());
    m_writeCounter = 0;
    m_inFlight = true;
    writeLocked(bytes);
    if (next->isRealtime() && next->kind() != StatusQuery)
        return m_sendQueue.takeAt(index);
    return nullptr;
}

void SendQueue::writeLocked(const QByteArray &bytes)
{
    m_device->write(bytes);
    if (auto *port = qobject_cast<QSerialPort *>(m_device))
        port->flush();
}

void SendQueue::msgSentToGRBL(qint64 size)
{
    {
        QMutexLocker lock(&m_lock);
        if (!m_inFlight)
            return;
        m_writeCounter += quint32(size);
        if (m_writeCounter < m_currentWriteSize)
            return;
        m_inFlight = false;
        m_writeCounter = 0;
    }
    trySend();
}

// Vendor requests draw no "ok" once the controller has shown that it has the vendor extension.
bool SendQueue::awaitsOkLocked(const SerialMessage *message) const
{
    return message->isSent() && !message->isRealtime() && !(message->kind() == Vendor && m_vendorConfirmed);
}

int SendQueue::firstUnansweredLocked() const
{
    // Sent messages always form the head of the queue: everything behind the first unsent one is unsent.
    for (int i = 0; i < m_sendQueue.size() && m_sendQueue.at(i)->isSent(); ++i) {
        if (awaitsOkLocked(m_sendQueue.at(i)))
            return i;
    }
    return -1;
}

SerialMessage *SendQueue::takeAnsweredMessage()
{
    SerialMessage *taken = nullptr;
    {
        QMutexLocker lock(&m_lock);
        const int index = firstUnansweredLocked();
        if (index >= 0)
            taken = takeAtLocked(index);
    }
    trySend();
    return taken;
}

SerialMessage *SendQueue::oldestUnanswered() const
{
    QMutexLocker lock(&m_lock);
    const int index = firstUnansweredLocked();
    return index >= 0 ? m_sendQueue.at(index) : nullptr;
}

SerialMessage *SendQueue::takeStatusMessage()
{
    return takeFirstSentOfKind(StatusQuery);
}

SerialMessage *SendQueue::takeVendorMessage()
{
    SerialMessage *taken = takeFirstSentOfKind(Vendor);
    QMutexLocker lock(&m_lock);
    m_vendorConfirmed = true;
    return taken;
}

SerialMessage *SendQueue::takeFirstSentOfKind(qint32 kind)
{
    SerialMessage *taken = nullptr;
    {
        QMutexLocker lock(&m_lock);
        for (int i = 0; i < m_sendQueue.size() && m_sendQueue.at(i)->isSent(); ++i) {
            if (m_sendQueue.at(i)->kind() == kind) {
                taken = takeAtLocked(i);
                break;
            }
        }
    }
    trySend();
    return taken;
}

SerialMessage *SendQueue::takeAtLocked(int index)
{
    SerialMessage *message = m_sendQueue.takeAt(index);
    m_sendBudget += bufferCost(message);
    if (message == m_eepromWriteUnanswered)
        m_eepromWriteUnanswered = nullptr;
    return message;
}

void SendQueue::clear()
{
    QList<SerialMessage *> dropped;
    {
        QMutexLocker lock(&m_lock);
        dropped.swap(m_sendQueue);
        m_sendBudget = InitialBudget;
        m_inFlight = false;
        m_writeCounter = 0;
        m_currentWriteSize = 0;
        m_eepromWriteUnanswered = nullptr;
    }
    for (SerialMessage *message : qAsConst(dropped))
        release(message);
    if (QThread::currentThread() == thread())
        followQueueWithStayAwake();
}

void SendQueue::close(bool softReset)
{
    {
        QMutexLocker lock(&m_lock);
        m_closed = true;
        if (softReset && m_device && m_device->isOpen())
            writeLocked(QByteArray(1, '\x18'));
    }
    clear();
}

bool SendQueue::isClosed() const
{
    QMutexLocker lock(&m_lock);
    return m_closed;
}

void SendQueue::writeNow(const QByteArray &bytes)
{
    QMutexLocker lock(&m_lock);
    if (m_device && m_device->isOpen())
        writeLocked(bytes);
}

void SendQueue::setHeld(Hold reason, bool held)
{
    {
        QMutexLocker lock(&m_lock);
        m_held = held ? (m_held | reason) : (m_held & ~reason);
    }
    trySend();
}

bool SendQueue::isHeld() const
{
    QMutexLocker lock(&m_lock);
    return m_held != 0;
}

bool SendQueue::isVendorConfirmed() const
{
    QMutexLocker lock(&m_lock);
    return m_vendorConfirmed;
}

int SendQueue::sendBudget() const
{
    QMutexLocker lock(&m_lock);
    return m_sendBudget;
}

bool SendQueue::isInFlight() const
{
    QMutexLocker lock(&m_lock);
    return m_inFlight;
}

int SendQueue::count() const
{
    QMutexLocker lock(&m_lock);
    return m_sendQueue.size();
}

bool SendQueue::writesEeprom(const QString &line)
{
    // Matched on the line without blanks and in upper case, as GRBL's parser reads it.
    static const QRegularExpression setting(QStringLiteral("^\\$(\\d+|RST|N\\d*|I)="));
    static const QRegularExpression coordinateSystem(
        QStringLiteral("G0*10(?![.\\d])(?=.*L0*20?(?![.\\d]))|L0*20?(?![.\\d]).*G0*10(?![.\\d])"));
    static const QRegularExpression storedPosition(QStringLiteral("G0*(28|30)\\.1(?!\\d)"));
    static const QRegularExpression blanks(QStringLiteral("\\s"));
    const QString normalised = line.toUpper().remove(blanks);
    return setting.match(normalised).hasMatch() || coordinateSystem.match(normalised).hasMatch()
        || storedPosition.match(normalised).hasMatch();
}

static bool isProcessWide(const SerialMessage *message)
{
    return message == GcodeSerialMessage::instance() || message == PCBSerialMessage::instance()
        || message == STLSerialMessage::instance() || message == CheckDoorMessage::instance();
}

void SendQueue::release(SerialMessage *message)
{
    // A message with a parent belongs to it (the connection keeps its unlock message for good); the
    // signal carriers live for the whole run.
    if (!message || message->parent() || isProcessWide(message))
        return;
    if (message->thread() == QThread::currentThread() && QCoreApplication::instance())
        message->moveToThread(QCoreApplication::instance()->thread());
    message->deleteLater();
}
