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
    const QByteArray bytes = line.toUtf8();
    return QString::fromUtf8(strippedBytes(bytes.constData(), bytes.constData() + bytes.size()));
}

QByteArray strippedBytes(const char *begin, const char *end)
{
    QByteArray result;
    result.reserve(int(end - begin));
    bool inComment = false;
    for (const char *byte = begin; byte != end; ++byte) {
        if (inComment) {
            inComment = *byte != ')';
            continue;
        }
        if (*byte == '(')
            inComment = true;
        else if (*byte == ';')
            break;
        else if (*byte != '\r' && *byte != '\n')
            result.append(*byte);
    }
    return result.trimmed();
}

namespace {
bool isUnsafe(uint code)
{
    const bool control = code < 0x20 && code != '\t';
    return control || code >= 0x7f || code == '?' || code == '!' || code == '~';
}
}

int unsafeCharacterAt(const QString &line)
{
    for (int i = 0; i < line.size(); ++i) {
        if (isUnsafe(line.at(i).unicode()))
            return i;
    }
    return -1;
}

bool isSafe(const QByteArray &line)
{
    for (const char byte : line) {
        if (isUnsafe(uchar(byte)))
            return false;
    }
    return true;
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
