#include "link/stayawake.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

#include <fcntl.h>
#include <unistd.h>

StayAwake::StayAwake(QObject *parent)
    : QObject(parent)
{
}

StayAwake::~StayAwake()
{
    closeLock();
}

void StayAwake::setAwake(bool awake)
{
    m_wanted = awake;
    if (!awake)
        closeLock();
    else if (m_fd < 0 && !m_requestPending)
        requestLock();
}

// Asked asynchronously: the GUI thread must not wait for logind.
void StayAwake::requestLock()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage inhibit = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    inhibit << QStringLiteral("sleep:idle") << QStringLiteral("Korvex")
            << QStringLiteral("The milling machine is being fed") << QStringLiteral("block");
    m_requestPending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(inhibit), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &StayAwake::lockAnswered);
}

void StayAwake::lockAnswered(QDBusPendingCallWatcher *call)
{
    call->deleteLater();
    m_requestPending = false;
    QDBusPendingReply<QDBusUnixFileDescriptor> reply = *call;
    if (reply.isError() || !reply.value().isValid())
        return;
    m_fd = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (!m_wanted)
        closeLock();
}

void StayAwake::closeLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
