#pragma once

#include <QString>

// The vendor extension of the board: firmware version and the three stepper drivers' Config0 and
// Config1 registers (16 characters 0/1 each) with their fault registers. Every request gets
// exactly one "(PLV:" reply line.
class DriverRegisters
{
public:
    DriverRegisters();

    static bool isRequest(const QString &rawLine);
    QString reply(const QString &rawLine);

private:
    struct Driver {
        QString config0;
        QString config1;
        QString fault = QString(16, QLatin1Char('0'));
    };

    QString configReply(int number) const;
    QString statusReply(int number, const QString &triedWord) const;
    static bool isWord(const QString &text);

    Driver m_stored[3];
};
