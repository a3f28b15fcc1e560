#include "modes/pcbprogram.h"

#include <cmath>

namespace {
const QString wordLetters = QStringLiteral("FGIJKMNPRSTXYZ");

// Address words only: a letter, then a plain decimal number, blanks anywhere between words.
bool isPlainGcode(const QString &text)
{
    int i = 0;
    const int n = text.size();
    const auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    while (skipBlanks(), i < n) {
        if (!wordLetters.contains(text.at(i).toUpper()))
            return false;
        ++i;
        skipBlanks();
        if (i < n && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+')))
            ++i;
        int digits = 0;
        bool point = false;
        for (; i < n; ++i) {
            const QChar c = text.at(i);
            if (c.isDigit() && c.unicode() < 0x80)
                ++digits;
            else if (c == QLatin1Char('.') && !point)
                point = true;
            else
                break;
        }
        if (digits == 0)
            return false;
    }
    return true;
}

bool withinReach(const GcodeLine &line)
{
    for (const char letter : {'X', 'Y', 'Z', 'I', 'J', 'K'}) {
        if (std::fabs(line.value(QLatin1Char(letter))) > PcbProgram::farthestCoordinate)
            return false;
    }
    return true;
}
} // namespace

PcbProgram PcbProgram::fromAnswer(const QString &answer)
{
    PcbProgram program;
    const QStringList texts = answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (texts.size() > mostLines) {
        program.m_error = QStringLiteral("The answer has %1 lines, more than the %2 a job may have.")
                              .arg(texts.size())
                              .arg(mostLines);
        return program;
    }
    program.m_lines.reserve(texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        if (!program.readLine(texts.at(i), i + 1)) {
            program.m_lines.clear();
            return program;
        }
    }
    program.m_texts = texts;
    program.measure();
    return program;
}

QString PcbProgram::machineText(const QString &line)
{
    int end = line.size();
    for (const QChar opening : {QLatin1Char('('), QLatin1Char(';')}) {
        const int at = line.indexOf(opening);
        if (at >= 0 && at < end)
            end = at;
    }
    return line.left(end).trimmed();
}

bool PcbProgram::readLine(const QString &text, int number)
{
    const QString machine = machineText(text);
    // What the controller gets is parsed (a ";" comment is no part of it); a line that is all comment
    // keeps its text, which may be a tool change to show.
    GcodeLine line(machine.isEmpty() ? text : machine);
    if (machine.size() > longestLine || !isPlainGcode(machine) || !withinReach(line)) {
        m_error = QStringLiteral("Line %1 is no G-code the machine can take: %2").arg(number).arg(text.left(80));
        return false;
    }
    if (number > 2 && machine.isEmpty() && !text.contains(QLatin1String("Change tool bit to")))
        m_reports << text.trimmed();
    m_lines.append(std::move(line));
    return true;
}

// The end points of the feed moves, as the preview measures a drawing.
void PcbProgram::measure()
{
    int motion = -1;
    float x = 0.0f;
    float y = 0.0f;
    for (const GcodeLine &line : qAsConst(m_lines)) {
        const bool moves = line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z'));
        if (line.has(QLatin1Char('G'))) {
            const float g = line.value(QLatin1Char('G'));
            if (!(g > -1.0f && g < 4.0f))
                continue;
            motion = int(g);
        } else if (!moves) {
            continue;
        }
        if (line.has(QLatin1Char('X')))
            x = line.value(QLatin1Char('X'));
        if (line.has(QLatin1Char('Y')))
            y = line.value(QLatin1Char('Y'));
        if (motion == 1)
            m_extent.unite({x, y, x, y});
    }
}
