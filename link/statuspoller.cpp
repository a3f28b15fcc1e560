#include "link/statuspoller.h"

#include "link/machinestatus.h"
#include "link/sendqueue.h"
#include "link/serialport.h"

StatusPoller::StatusPoller(SerialPort *connection)
    : QObject(connection)
    , m_connection(connection)
{
    m_timer.setInterval(IntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &StatusPoller::poll);
}

void StatusPoller::wake()
{
    // Whatever was reported before, the machine may move now.
    m_machineStill = false;
    if (!m_timer.isActive()) {
        m_timer.start();
        poll();
    }
}

void StatusPoller::reportArrived(const MachineStatus &status)
{
    m_awaitingReport = false;
    const QString &state = status.state;
    m_machineStill = state == QLatin1String("Idle") || state == QLatin1String("Alarm") || state == QLatin1String("Check");
}

bool StatusPoller::isBusy() const
{
    return m_connection->sendQueue()->count() > 0 || !m_machineStill;
}

void StatusPoller::poll()
{
    if (!m_connection->isConnected()) {
        m_timer.stop();
        return;
    }
    if (m_awaitingReport && !m_sinceRequest.hasExpired(AnswerTimeoutMs))
        return;
    // One request after the last line, to see the machine come to rest; then silence.
    if (!isBusy() && !m_awaitingReport) {
        m_timer.stop();
        return;
    }
    m_awaitingReport = true;
    m_sinceRequest.start();
    m_connection->addMessageStringToWriterReader(QStringLiteral("?\n"));
}
