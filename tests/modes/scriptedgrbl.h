#pragma once

#include "tools/grblsim/pseudoterminal.h"

#include <QObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <unistd.h>

// A controller that answers every line as GRBL does, but reports the probing results the test
// scripts: answerProbe(n) gives the line reported for the n-th probing move (counted from 0).
class ScriptedGrbl : public QObject
{
public:
    explicit ScriptedGrbl(std::function<QString(int probe)> answerProbe)
        : m_answerProbe(std::move(answerProbe))
    {
    }

    bool start()
    {
        QString error;
        if (!m_pty.open(&error) || m_pty.watchOpens() < 0)
            return false;
        auto *input = new QSocketNotifier(m_pty.masterFd(), QSocketNotifier::Read, this);
        connect(input, &QSocketNotifier::activated, this, [this] { read(); });
        auto *opens = new QSocketNotifier(m_pty.watchOpens(), QSocketNotifier::Read, this);
        // The host clears its input right after opening the port; the banner comes a little later.
        connect(opens, &QSocketNotifier::activated, this, [this] {
            if (m_pty.takeOpenEvents() > 0)
                QTimer::singleShot(300, this, [this] { write("\r\nGrbl 1.1h ['$' for help]\r\n"); });
        });
        return true;
    }

    QString devicePath() const { return m_pty.slavePath(); }
    QStringList received;

private:
    void read()
    {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(m_pty.masterFd(), chunk, sizeof chunk)) > 0) {
            for (ssize_t i = 0; i < n; ++i)
                take(chunk[i]);
        }
    }

    void take(char byte)
    {
        if (byte == '?') {
            write("<Idle|MPos:0.000,0.000,0.000|FS:0,0>\r\n");
            return;
        }
        if (byte == '~' || byte == '!' || byte == 0x18)
            return;
        if (byte != '\n') {
            m_line += byte;
            return;
        }
        received << QString::fromLatin1(m_line);
        if (m_line.startsWith("(PLV:"))
            write("(PLV:Version|1.0)\r\n");
        else if (m_line.startsWith("G38.2"))
            write(m_answerProbe(m_probes++).toLatin1() + "\r\nok\r\n");
        else
            write("ok\r\n");
        m_line.clear();
    }

    void write(const QByteArray &bytes) { [[maybe_unused]] const ssize_t written = ::write(m_pty.masterFd(), bytes.constData(), size_t(bytes.size())); }

    PseudoTerminal m_pty;
    std::function<QString(int)> m_answerProbe;
    QByteArray m_line;
    int m_probes = 0;
};
