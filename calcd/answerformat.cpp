#include "calcd/answerformat.h"

void AnswerFormat::header(GcodeWriter *out, const QString &what, const QString &how)
{
    out->line(report(QStringLiteral("korvex-calcd ") + what));
    out->line(report(how));
    out->line(QStringLiteral("G21 G90"));
}

void AnswerFormat::spindleOn(GcodeWriter *out, double feed)
{
    out->line(QStringLiteral("M3 S%1 F%2").arg(GcodeWriter::number(spindleSpeed, 0), GcodeWriter::number(feed, 4)));
    out->line(QStringLiteral("G4 P1"));
}

QString AnswerFormat::notIsolated(QPointF at)
{
    return QStringLiteral("(Not isolated at X%1 Y%2)").arg(at.x(), 0, 'f', 3).arg(at.y(), 0, 'f', 3);
}

QString AnswerFormat::report(const QString &text)
{
    // GRBL ends a comment at the first ")"; a "(" inside one is an error.
    QString plain = text;
    plain.replace(QLatin1Char('('), QLatin1Char('[')).replace(QLatin1Char(')'), QLatin1Char(']'));
    return QLatin1Char('(') + plain.left(66) + QLatin1Char(')');
}
