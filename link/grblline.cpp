#include "link/grblline.h"

namespace GrblLine {

namespace {
bool isRealtimeCharacter(QChar character)
{
    const ushort code = character.unicode();
    return code == '?' || code == '!' || code == '~' || code == 0x18 || (code >= 0x80 && code <= 0xff);
}
}

bool isRealtimeCommand(const QString &text)
{
    return text.size() == 1 && isRealtimeCharacter(text.at(0));
}

QString realtimeCommandOf(const QString &text)
{
    if (text.size() == 2 && text.at(1) == QLatin1Char('\n') && isRealtimeCharacter(text.at(0))
        && text.at(0).unicode() < 0x80)
        return text.left(1);
    return QString();
}

QString stripped(const QString &line)
{
    QString result;
    result.reserve(line.size());
    bool inComment = false;
    for (const QChar character : line) {
        if (inComment) {
            inComment = character != QLatin1Char(')');
            continue;
        }
        if (character == QLatin1Char('('))
            inComment = true;
        else if (character == QLatin1Char(';'))
            break;
        else if (character != QLatin1Char('\r') && character != QLatin1Char('\n'))
            result.append(character);
    }
    return result.trimmed();
}

int unsafeCharacterAt(const QString &line)
{
    for (int i = 0; i < line.size(); ++i) {
        const ushort code = line.at(i).unicode();
        const bool control = code < 0x20 && code != '\t';
        if (control || code >= 0x7f || code == '?' || code == '!' || code == '~')
            return i;
    }
    return -1;
}

QString describeCharacter(QChar character)
{
    const ushort code = character.unicode();
    const QString hex = QString::number(code, 16).toUpper().rightJustified(code > 0xff ? 4 : 2, QLatin1Char('0'));
    if (code > 0x20 && code < 0x7f)
        return QLatin1Char('"') + character + QLatin1Char('"');
    if (code >= 0xa0 && character.isPrint())
        return QLatin1Char('"') + character + QStringLiteral("\" (U+") + hex + QLatin1Char(')');
    return QStringLiteral("0x") + hex;
}

}
