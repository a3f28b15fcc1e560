#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class GcodeProgram;
class SerialPort;

// Hands a program to the connection line by line, a bounded window ahead of the controller's answers:
// a program of ten million lines never exists as ten million messages, and what was not yet handed
// over costs nothing when the job stops. The window keeps the wire full: GRBL holds a handful of lines,
// the connection's queue the rest.
class ProgramFeeder : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 Window = 1024;

    explicit ProgramFeeder(QObject *parent = nullptr);

    // Lines first..last (0-based, inclusive) of the program, numbered as program lines from 1; the last
    // one is marked last. Check-run lines report to the check dialog instead of the job.
    void start(std::shared_ptr<const GcodeProgram> program, qint64 first, SerialPort *port, bool checkRun);
    void stop();
    bool isFeeding() const { return bool(m_program); }

public Q_SLOTS:
    // The controller answered this program line (1-based).
    void lineAnswered(qint64 lineNumber);

private:
    void topUp();

    std::shared_ptr<const GcodeProgram> m_program;
    QPointer<SerialPort> m_port;
    qint64 m_next = 0;
    qint64 m_answered = 0;
    bool m_checkRun = false;
};
