#include "grblcheck.h"

#include "toolpath/gcodeline.h"

#include <QRegularExpression>
#include <QSet>

QString grblProblem(const QString &line)
{
    static const QRegularExpression comment(QStringLiteral("\\([^()]*\\)"));
    static const QRegularExpression word(QStringLiteral("^([FGIJKLMNPRSTXYZ])(-?\\d*\\.?\\d+|-?\\d+\\.)"));
    static const QSet<QString> gCodes{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                      QStringLiteral("4"), QStringLiteral("17"), QStringLiteral("20"), QStringLiteral("21"),
                                      QStringLiteral("90"), QStringLiteral("91"), QStringLiteral("94")};
    static const QSet<QString> mCodes{QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("3"),
                                      QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("30")};
    if (line.size() >= 70)
        return QStringLiteral("longer than 69 characters: ") + line;
    QString rest = line;
    rest.remove(comment);
    rest.remove(QLatin1Char(' '));
    if (rest.contains(QLatin1Char('(')) || rest.contains(QLatin1Char(')')))
        return QStringLiteral("unbalanced comment: ") + line;
    while (!rest.isEmpty()) {
        const QRegularExpressionMatch match = word.match(rest);
        if (!match.hasMatch())
            return QStringLiteral("not a GRBL word: ") + line;
        const QString letter = match.captured(1), value = match.captured(2);
        if (letter == QLatin1String("G") && !gCodes.contains(value))
            return QStringLiteral("G code GRBL lacks: ") + line;
        if (letter == QLatin1String("M") && !mCodes.contains(value))
            return QStringLiteral("M code GRBL lacks: ") + line;
        rest.remove(0, match.capturedLength());
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
        const bool motion = line.startsWith(QLatin1Char('G'));
        if (motion && parsed.command() != line.section(QLatin1Char(' '), 0, 0))
            problems << QStringLiteral("GcodeLine reads another command: ") + line;
        for (const QChar axis : {QLatin1Char('X'), QLatin1Char('Y'), QLatin1Char('Z')}) {
            const int at = line.indexOf(axis);
            if (at >= 0 && !line.startsWith(QLatin1Char('(')) && !line.contains(QLatin1String("(* SHAPE"))
                && qAbs(parsed.value(axis) - line.mid(at + 1).section(QLatin1Char(' '), 0, 0).toFloat()) > 1e-3f)
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
