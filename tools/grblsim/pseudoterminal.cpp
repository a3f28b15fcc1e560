#include "tools/grblsim/pseudoterminal.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <termios.h>
#include <unistd.h>

PseudoTerminal::~PseudoTerminal()
{
    close();
}

static QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromLatin1(what), QString::fromLocal8Bit(std::strerror(errno)));
}

bool PseudoTerminal::open(QString *error)
{
    close();
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = systemError("posix_openpt");
        close();
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(ptsname(m_master));
    m_slave = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        *error = systemError("open slave");
        close();
        return false;
    }
    // No echo and no CR/LF translation: the client must see exactly the bytes written on the master.
    termios attributes{};
    tcgetattr(m_slave, &attributes);
    cfmakeraw(&attributes);
    cfsetispeed(&attributes, B115200);
    cfsetospeed(&attributes, B115200);
    tcsetattr(m_slave, TCSANOW, &attributes);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

void PseudoTerminal::close()
{
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        m_linkPath.clear();
    }
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_openWatch >= 0)
        ::close(m_openWatch);
    m_master = -1;
    m_slave = -1;
    m_openWatch = -1;
}

bool PseudoTerminal::makeLink(const QString &linkPath, QString *error)
{
    QFile::remove(linkPath);
    if (!QFile::link(m_slavePath, linkPath)) {
        *error = QStringLiteral("cannot create the link %1").arg(linkPath);
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

int PseudoTerminal::watchOpens()
{
    if (m_openWatch >= 0)
        return m_openWatch;
    m_openWatch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_openWatch >= 0 && inotify_add_watch(m_openWatch, m_slavePath.toLocal8Bit().constData(), IN_OPEN) < 0) {
        ::close(m_openWatch);
        m_openWatch = -1;
    }
    return m_openWatch;
}

int PseudoTerminal::takeOpenEvents()
{
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    ssize_t length;
    while ((length = ::read(m_openWatch, buffer, sizeof buffer)) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            if (event->mask & IN_OPEN)
                ++opens;
            offset += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return opens;
}

void PseudoTerminal::discardUnreadOutput()
{
    if (m_slave >= 0)
        tcflush(m_slave, TCIFLUSH);
}
