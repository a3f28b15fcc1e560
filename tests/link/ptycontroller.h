#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// The controller's end of a pseudo-terminal pair, played by the test itself: it reads what the
// program wrote and writes whatever answers the test wants, byte for byte.
class PtyController
{
public:
    PtyController()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        termios raw {};
        ::tcgetattr(m_master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_master, TCSANOW, &raw);
    }
    ~PtyController() { hangUp(); }
    PtyController(const PtyController &) = delete;
    PtyController &operator=(const PtyController &) = delete;

    QString slavePath() const { return m_slavePath; }

    void send(const QByteArray &bytes)
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (errno == EAGAIN)
                QCoreApplication::processEvents();   // the terminal's buffer is full until the program reads
            else
                break;
        }
    }

    // Everything the program wrote so far.
    QByteArray received()
    {
        char chunk[4096];
        ssize_t n;
        while (m_master >= 0 && (n = ::read(m_master, chunk, sizeof chunk)) > 0)
            m_received.append(chunk, int(n));
        return m_received;
    }
    QStringList receivedLines() { return QString::fromLatin1(received()).split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    void forget()
    {
        received();
        m_received.clear();
    }

    // The cable is pulled: the program's side of the pair fails.
    void hangUp()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    QString m_slavePath;
    QByteArray m_received;
};
