#include "tools/grblsim/driverregisters.h"

#include <QRegularExpression>

namespace {
const QString FirmwareVersion = QStringLiteral("1.0.4");
const QString Prefix = QStringLiteral("(PLV:");
}

DriverRegisters::DriverRegisters()
{
    // Synchronous rectification, 1/16 step, 75 % current, 6 us fast decay, 1.5 us blank, 32 us off time.
    // Internal clock, 1 us overcurrent delay, stall difference 6, fault on DIAG.
    for (Driver &driver : m_stored) {
        driver.config0 = QStringLiteral("0011110011010110");
        driver.config1 = QStringLiteral("0100100000011000");
    }
}

bool DriverRegisters::isRequest(const QString &rawLine)
{
    return rawLine.trimmed().startsWith(Prefix);
}

bool DriverRegisters::isWord(const QString &text)
{
    static const QRegularExpression bits(QStringLiteral("^[01]{16}$"));
    return bits.match(text).hasMatch();
}

// "Version", "Driver<N>G" (read), "Driver<N>S|word" (store), "Driver<N>T|word" (try and report).
// A stored word is read back by the next "G"; a tried one is applied only to the status reply.
QString DriverRegisters::reply(const QString &rawLine)
{
    static const QRegularExpression request(
        QStringLiteral("^\\(PLV:(?:(Version)|Driver([123])([GST])(?:\\|([^)]*))?)\\)$"));
    const auto match = request.match(rawLine.trimmed());
    if (!match.hasMatch())
        return QStringLiteral("(PLV:Error|unknown request)");
    if (!match.captured(1).isEmpty())
        return QStringLiteral("(PLV:Version|%1)").arg(FirmwareVersion);
    const int number = match.captured(2).toInt();
    const QChar operation = match.captured(3).at(0);
    const QString word = match.captured(4);
    if (operation == QLatin1Char('G'))
        return configReply(number);
    if (!isWord(word) || !(word.startsWith(QLatin1String("00")) || word.startsWith(QLatin1String("01"))))
        return QStringLiteral("(PLV:Error|Driver%1 bad register word)").arg(number);
    if (operation == QLatin1Char('T'))
        return statusReply(number, word);
    Driver &driver = m_stored[number - 1];
    (word.startsWith(QLatin1String("00")) ? driver.config0 : driver.config1) = word;
    return configReply(number);
}

QString DriverRegisters::configReply(int number) const
{
    const Driver &driver = m_stored[number - 1];
    return QStringLiteral("(PLV:Driver%1G|%2%3)").arg(number).arg(driver.config0, driver.config1);
}

QString DriverRegisters::statusReply(int number, const QString &triedWord) const
{
    return QStringLiteral("(PLV:Driver%1|%2%3)").arg(number).arg(triedWord, m_stored[number - 1].fault);
}
