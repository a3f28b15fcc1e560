#include "tools/grblsim/simulatedmachine.h"

namespace {
enum Status { Ok = 0, InvalidStatement = 3 };
}

SimulatedMachine::SimulatedMachine(const Config &config, QObject *parent)
    : QObject(parent)
    , m_config(config)
{
}

void SimulatedMachine::powerUp()
{
    printBanner();
}

void SimulatedMachine::printBanner()
{
    emit answer(QString());
    emit answer(QStringLiteral("Grbl 1.1h ['$' for help]"));
}

bool SimulatedMachine::acceptsLine() const
{
    return true;
}

void SimulatedMachine::executeLine(const QByteArray &rawLine)
{
    QString line;
    for (char c : rawLine) {
        if (c > ' ' && c < 0x7f)
            line.append(QChar::fromLatin1(c).toUpper());
    }
    if (line.startsWith(QLatin1Char('$')))
        answerStatus(executeSystemCommand(line));
    else
        answerStatus(Ok);
}

int SimulatedMachine::executeSystemCommand(const QString &line)
{
    if (line == QLatin1String("$$")) {
        for (const QString &entry : m_settings.listing())
            emit answer(entry);
        return Ok;
    }
    if (line == QLatin1String("$X")) {
        emit answer(QStringLiteral("[MSG:Caution: Unlocked]"));
        return Ok;
    }
    return InvalidStatement;
}

void SimulatedMachine::answerStatus(int status)
{
    emit answer(status == Ok ? QStringLiteral("ok") : QStringLiteral("error:%1").arg(status));
}

void SimulatedMachine::realtime(char byte)
{
    switch (static_cast<unsigned char>(byte)) {
    case '?':
        emit answer(QStringLiteral("<Idle|MPos:0.000,0.000,0.000|FS:0,0>"));
        break;
    case 0x18:
        softReset();
        break;
    default:
        break;
    }
}

void SimulatedMachine::softReset()
{
    emit receiveBufferFlushed();
    printBanner();
}

void SimulatedMachine::triggerHardLimit()
{
    emit answer(QStringLiteral("ALARM:1"));
}

void SimulatedMachine::setDoorOpen(bool open)
{
    if (open)
        emit answer(QStringLiteral("[MSG:Check Door]"));
}

void SimulatedMachine::setProbeMisses(bool) {}
