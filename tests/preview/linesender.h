#pragma once

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QtTest>

#include <memory>

#include "tools/grblsim/grblsimulator.h"

// A host on the simulator's pseudo-terminal that sends one line at a time and waits for its answer.
class LineSender
{
public:
    bool open(const QString &device)
    {
        m_port.setPortName(device);
        QObject::connect(&m_port, &QSerialPort::readyRead, [this] {
            m_pending += m_port.readAll();
            for (int end; (end = m_pending.indexOf("\r\n")) >= 0; m_pending.remove(0, end + 2))
                m_lines << QString::fromLatin1(m_pending.left(end));
        });
        return m_port.open(QIODevice::ReadWrite) && !waitFor(QStringLiteral("^Grbl 1.1h"), 5000).isEmpty();
    }
    // Every line up to and including the answer to `line`.
    QStringList send(const QString &line)
    {
        m_port.write(line.toLatin1() + '\n');
        return waitFor(QStringLiteral("^(ok|error:\\d+)$"), 5000);
    }
    QString answer(const QString &line)
    {
        const QStringList lines = send(line);
        return lines.isEmpty() ? QStringLiteral("no answer to ") + line : lines.last();
    }
    QString status()
    {
        m_port.write("?");
        return waitFor(QStringLiteral("^<"), 2000).value(0);
    }

private:
    // Polls every millisecond: the simulator works on this thread, and a planner kept waiting for
    // its next line would stretch the job.
    QStringList waitFor(const QString &pattern, int timeoutMs)
    {
        const QRegularExpression wanted(pattern);
        QElapsedTimer clock;
        clock.start();
        for (int checked = 0; clock.elapsed() < timeoutMs; QTest::qWait(1)) {
            for (; checked < m_lines.size(); ++checked) {
                if (wanted.match(m_lines.at(checked)).hasMatch()) {
                    const QStringList taken = m_lines.mid(0, checked + 1);
                    m_lines.erase(m_lines.begin(), m_lines.begin() + checked + 1);
                    return taken;
                }
            }
        }
        return {};
    }

    QSerialPort m_port;
    QByteArray m_pending;
    QStringList m_lines;
};

inline std::unique_ptr<GrblSimulator> startSimulator(double timeScale, LineSender *sender)
{
    GrblSimulator::Options options;
    options.motionTimeScale = timeScale;
    options.bootMs = 50;
    auto simulator = std::make_unique<GrblSimulator>(options);
    if (!simulator->start() || !sender->open(simulator->devicePath()))
        return {};
    return simulator;
}
