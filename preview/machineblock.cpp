#include "preview/machineblock.h"

#include "toolpath/gcodeline.h"

#include <cmath>

namespace {
// The letters GRBL 1.1 knows on a three-axis machine.
bool knownLetter(char letter)
{
    return QByteArrayLiteral("FGIJKLMNPRSTXYZ").contains(letter);
}

// GRBL's own number format: an optional sign, digits and at most one point, at least one digit.
bool readNumber(const QString &text, int *at, double *number)
{
    int i = *at;
    const bool negative = i < text.size() && text.at(i) == QLatin1Char('-');
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
        ++i;
    double value = 0.0;
    int fractionDigits = 0;
    bool point = false;
    int digits = 0;
    for (; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (c >= '0' && c <= '9') {
            ++digits;
            fractionDigits += point ? 1 : 0;
            value = value * 10.0 + (c - '0');
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    *at = i;
    *number = (negative ? -value : value) / std::pow(10.0, fractionDigits);
    return digits > 0 && std::isfinite(*number);
}
} // namespace

MachineBlock::MachineBlock(const GcodeLine &line)
{
    if (!line.isPlain()) {
        read(line.text());
        return;
    }
    m_plain = &line;
    if (line.has(QLatin1Char('G')))
        m_gCodes.append(code(line.value(QLatin1Char('G'))));
    if (line.has(QLatin1Char('M')))
        m_mCodes.append(code(line.value(QLatin1Char('M'))));
}

bool MachineBlock::has(char letter) const
{
    return m_plain ? m_plain->has(QLatin1Char(letter)) : (m_present & bit(letter));
}

double MachineBlock::value(char letter) const
{
    if (m_plain)
        return m_plain->value(QLatin1Char(letter));
    return has(letter) ? m_values[letter - 'A'] : 0.0;
}

// Blanks are dropped and letters upper-cased before the words are read, as GRBL's serial layer does.
void MachineBlock::read(const QString &text)
{
    QString compact;
    compact.reserve(text.size());
    bool comment = false;
    for (const QChar c : text) {
        if (c == QLatin1Char(';') && !comment)
            break;
        if (c == QLatin1Char('(') || c == QLatin1Char(')'))
            comment = c == QLatin1Char('(');
        else if (!comment && !c.isSpace())
            compact += c.toUpper();
    }
    for (int at = 0; m_valid && at < compact.size();) {
        const ushort letter = compact.at(at++).unicode();
        double number = 0.0;
        m_valid = letter < 128 && knownLetter(char(letter)) && readNumber(compact, &at, &number);
        if (m_valid)
            add(char(letter), number);
    }
}

void MachineBlock::add(char letter, double number)
{
    if (letter == 'G' || letter == 'M') {
        (letter == 'G' ? m_gCodes : m_mCodes).append(code(number));
    } else {
        m_valid = m_valid && !has(letter);
        m_values[letter - 'A'] = number;
    }
    m_present |= bit(letter);
}

// In tenths; a number too large for any command stays unknown.
int MachineBlock::code(double number)
{
    const double tenths = number * 10.0;
    return std::fabs(tenths) < 1e7 ? int(std::lround(tenths)) : -1;
}
