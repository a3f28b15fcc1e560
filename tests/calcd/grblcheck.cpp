#include "grblcheck.h"

#include "toolpath/gcodeline.h"

#include <QStringView>

#include <algorithm>

namespace {

// Length of the GRBL number at the start of text (-?\d*\.?\d+ or -?\d+\.), 0 when none stands there.
int numberLength(const QChar *text, int size)
{
    int i = size > 0 && text[0] == QLatin1Char('-') ? 1 : 0;
    const auto digits = [&] {
        const int from = i;
        while (i < size && text[i].isDigit())
            ++i;
        return i - from;
    };
    const int before = digits();
    if (i == size || text[i] != QLatin1Char('.'))
        return before > 0 ? i : 0;
    ++i;
    return before + digits() > 0 ? i : 0;
}

bool isOneOf(QStringView value, std::initializer_list<const char *> codes)
{
    return std::any_of(codes.begin(), codes.end(), [&](const char *code) { return value == QLatin1String(code); });
}

} // namespace

// Written as a plain scanner: a check of every line of every answer must stay cheap in the
// sanitizer build, where each allocation is expensive.
QString grblProblem(const QString &line)
{
    if (line.size() >= 70)
        return QStringLiteral("longer than 69 characters: ") + line;
    // The line without its comments and spaces.
    QChar rest[70];
    int size = 0;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('(')) {
            int close = i + 1;
            while (close < line.size() && line[close] != QLatin1Char('(') && line[close] != QLatin1Char(')'))
                ++close;
            if (close == line.size() || line[close] != QLatin1Char(')'))
                return QStringLiteral("unbalanced comment: ") + line;
            i = close;
        } else if (c == QLatin1Char(')')) {
            return QStringLiteral("unbalanced comment: ") + line;
        } else if (c != QLatin1Char(' ')) {
            rest[size++] = c;
        }
    }
    for (int i = 0; i < size;) {
        const QChar letter = rest[i];
        const int length = numberLength(rest + i + 1, size - i - 1);
        if (!QStringLiteral("FGIJKLMNPRSTXYZ").contains(letter) || length == 0)
            return QStringLiteral("not a GRBL word: ") + line;
        const QStringView value(rest + i + 1, length);
        if (letter == QLatin1Char('G') && !isOneOf(value, {"0", "1", "2", "3", "4", "17", "20", "21", "90", "91", "94"}))
            return QStringLiteral("G code GRBL lacks: ") + line;
        if (letter == QLatin1Char('M') && !isOneOf(value, {"0", "2", "3", "4", "5", "30"}))
            return QStringLiteral("M code GRBL lacks: ") + line;
        i += 1 + length;
    }
    return {};
}

QStringList answerProblems(const QString &answer)
{
    QStringList problems;
    if (!answer.endsWith(QLatin1Char('\n')))
        problems << QStringLiteral("answer does not end with a line break");
    for (const QString &line : answer.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString problem = grblProblem(line);
        if (!problem.isEmpty())
            problems << problem;
        const GcodeLine parsed(line);
        const auto firstWord = [](const QStringRef &text) { return text.left(text.indexOf(QLatin1Char(' '))); };
        const bool motion = line.startsWith(QLatin1Char('G'));
        if (motion && parsed.command() != firstWord(line.midRef(0)))
            problems << QStringLiteral("GcodeLine reads another command: ") + line;
        for (const QChar axis : {QLatin1Char('X'), QLatin1Char('Y'), QLatin1Char('Z')}) {
            const int at = line.indexOf(axis);
            if (at >= 0 && !line.startsWith(QLatin1Char('(')) && !line.contains(QLatin1String("(* SHAPE"))
                && qAbs(parsed.value(axis) - firstWord(line.midRef(at + 1)).toFloat()) > 1e-3f)
                problems << QStringLiteral("GcodeLine reads another %1: ").arg(axis) + line;
        }
    }
    return problems;
}

QVector<Stretch> cuttingStretches(const QStringList &lines)
{
    QVector<Stretch> stretches;
    double x = 0, y = 0, z = 0;
    bool cutting = false;
    for (const QString &text : lines) {
        const GcodeLine line(text);
        if (!line.has(QLatin1Char('G')))
            continue;
        const int g = static_cast<int>(line.value(QLatin1Char('G')));
        if (g != 0 && g != 1)
            continue;
        if (line.has(QLatin1Char('X')))
            x = line.value(QLatin1Char('X'));
        if (line.has(QLatin1Char('Y')))
            y = line.value(QLatin1Char('Y'));
        if (line.has(QLatin1Char('Z')))
            z = line.value(QLatin1Char('Z'));
        const bool nowCutting = g == 1 && z < 0;
        if (nowCutting && !cutting)
            stretches.append(Stretch());
        if (nowCutting) {
            stretches.last().points.append(QPointF(x, y));
            stretches.last().z.append(z);
        }
        cutting = nowCutting;
    }
    return stretches;
}
