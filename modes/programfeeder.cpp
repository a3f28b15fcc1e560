#include "modes/programfeeder.h"

#include "link/gcodeserialmessage.h"
#include "link/serialport.h"
#include "toolpath/gcodeprogram.h"

ProgramFeeder::ProgramFeeder(QObject *parent)
    : QObject(parent)
{
}

void ProgramFeeder::start(std::shared_ptr<const GcodeProgram> program, qint64 first, SerialPort *port, bool checkRun)
{
    m_program = std::move(program);
    m_port = port;
    m_next = first;
    m_answered = first;
    m_checkRun = checkRun;
    topUp();
}

void ProgramFeeder::stop()
{
    m_program.reset();
    m_port.clear();
}

void ProgramFeeder::lineAnswered(qint64 lineNumber)
{
    m_answered = qMax(m_answered, lineNumber);
    topUp();
}

void ProgramFeeder::topUp()
{
    if (!m_program)
        return;
    const qint64 count = m_program->lineCount();
    while (m_next < count && m_next - m_answered < Window) {
        if (!m_port || !m_port->isConnected()) {
            stop();
            return;
        }
        auto *message = new GcodeSerialMessage;
        message->setContent(QString::fromLatin1(m_program->lineBytes(m_next) + '\n'));
        message->setLineNumber(quint32(m_next + 1));
        message->setLast(m_next + 1 == count);
        message->setCheckRun(m_checkRun);
        m_port->addMessageToWriterReader(message);
        ++m_next;
    }
    if (m_next == count)
        stop();
}
