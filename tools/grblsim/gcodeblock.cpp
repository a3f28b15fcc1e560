#include "tools/grblsim/gcodeblock.h"

#include <cmath>

namespace {
enum Status {
    Ok = 0, ExpectedCommandLetter = 1, BadNumberFormat = 2, UnsupportedCommand = 20,
    ModalGroupViolation = 21, CommandValueNotInteger = 23, WordRepeated = 25,
};

const QVector<int> MotionGroup = {0, 10, 20, 30, 382, 383, 384, 385, 800};
const QVector<int> SupportedG = {0, 10, 20, 30, 40, 100, 170, 180, 190, 200, 210, 280, 281, 300, 301,
                                 382, 383, 384, 385, 400, 431, 490, 530, 540, 550, 560, 570, 580, 590,
                                 610, 800, 900, 910, 911, 920, 921, 930, 940};
const QVector<int> SupportedM = {0, 10, 20, 300, 30, 40, 50, 70, 80, 90};
const QString ValueLetters = QStringLiteral("FIJKLNPRSTXYZ");

// GRBL's number reader: optional sign, digits and at most one decimal point, no exponent.
bool readNumber(const QString &line, int *pos, double *number)
{
    const int start = *pos;
    int end = start;
    if (end < line.size() && (line[end] == QLatin1Char('-') || line[end] == QLatin1Char('+')))
        ++end;
    bool digits = false, point = false;
    while (end < line.size()) {
        const QChar c = line[end];
        if (c.isDigit()) {
            digits = true;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
        } else {
            break;
        }
        ++end;
    }
    if (!digits)
        return false;
    *number = line.midRef(start, end - start).toDouble();
    *pos = end;
    return true;
}
}

int GcodeBlock::parse(const QString &line)
{
    int pos = 0;
    while (pos < line.size()) {
        const QChar letter = line[pos];
        if (!letter.isLetter())
            return ExpectedCommandLetter;
        ++pos;
        double number = 0.0;
        if (!readNumber(line, &pos, &number))
            return BadNumberFormat;
        const char code = letter.toLatin1();
        if (code == 'G' || code == 'M') {
            if (const int status = addCommand(code, number))
                return status;
        } else if (ValueLetters.contains(letter)) {
            if (m_words.contains(code))
                return WordRepeated;
            m_words.insert(code, number);
        } else {
            return UnsupportedCommand;
        }
    }
    return Ok;
}

int GcodeBlock::addCommand(char letter, double number)
{
    const int tenths = int(std::lround(number * 10.0));
    if (std::fabs(number * 10.0 - tenths) > 1e-6)
        return CommandValueNotInteger;
    if (letter == 'M') {
        if (!SupportedM.contains(tenths))
            return UnsupportedCommand;
        if (m_mCodes.contains(tenths))
            return ModalGroupViolation;
        m_mCodes << tenths;
        return Ok;
    }
    if (!SupportedG.contains(tenths))
        return UnsupportedCommand;
    if (m_gCodes.contains(tenths) || (MotionGroup.contains(tenths) && motion() >= 0))
        return ModalGroupViolation;
    m_gCodes << tenths;
    return Ok;
}

int GcodeBlock::motion() const
{
    for (int code : m_gCodes) {
        if (MotionGroup.contains(code))
            return code;
    }
    return -1;
}
