#include "calcd/gcodewriter.h"

#include <cmath>

void GcodeWriter::line(const QString &text)
{
    written.append(text);
}

void GcodeWriter::words(const char *command, std::initializer_list<Word> words)
{
    QString text = QString::fromLatin1(command);
    for (const Word &word : words) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QLatin1Char(word.letter) + number(word.value, word.letter == 'Z' ? 7 : 4);
    }
    written.append(text);
}

QString GcodeWriter::number(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        text = QStringLiteral("0");
    return text;
}
