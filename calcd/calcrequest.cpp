#include "calcd/calcrequest.h"

#include <QRegularExpression>
#include <QTextCodec>
#include <cmath>

namespace {

// Longest header line of any kind (numbers included); anything longer is not a header.
constexpr int maxHeaderLine = 32;

bool isNumber(const QByteArray &field, double *value)
{
    static const QRegularExpression pattern(
        QStringLiteral("^-?(\\d+(\\.\\d*)?|\\.\\d+)([eE][-+]?\\d+)?$"));
    if (!pattern.match(QString::fromLatin1(field)).hasMatch())
        return false;
    *value = field.toDouble();
    return std::isfinite(*value);
}

bool isCount(const QByteArray &field, qint64 *value)
{
    if (field.isEmpty() || field.size() > 12)
        return false;
    for (const char c : field)
        if (c < '0' || c > '9')
            return false;
    *value = field.toLongLong();
    return true;
}

int headerLineCount(const QByteArray &first)
{
    if (first == "PCB")
        return 4;
    if (first == "STL" || first == "DXF")
        return 7;
    return 0;
}

// UTF-16 code units of a UTF-8 text: every byte that starts a character counts one, a four
// byte sequence (outside the basic plane) one more.
qint64 utf16Units(const QByteArray &utf8)
{
    qint64 units = 0;
    for (const char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if ((b & 0xC0) != 0x80)
            ++units;
        if ((b & 0xF8) == 0xF0)
            ++units;
    }
    return units;
}

} // namespace

CalcRequest::State CalcRequest::parse(const QByteArray &raw)
{
    const int firstEnd = raw.indexOf('\n');
    const QByteArray first = raw.left(firstEnd < 0 ? raw.size() : firstEnd);
    if (firstEnd < 0)
        return QByteArray("PCB").startsWith(first) || QByteArray("STL").startsWith(first)
                       || QByteArray("DXF").startsWith(first)
                   ? State::Incomplete
                   : State::Malformed;
    const int needed = headerLineCount(first);
    if (needed == 0)
        return State::Malformed;

    QList<QByteArray> lines;
    int pos = 0;
    while (lines.size() < needed) {
        const int end = raw.indexOf('\n', pos);
        const int stop = end < 0 ? raw.size() : end;
        if (stop - pos > maxHeaderLine)
            return State::Malformed;
        if (end < 0)
            return State::Incomplete;
        lines.append(raw.mid(pos, end - pos));
        pos = end + 1;
    }
    const State header = parseHeaderLines(lines, needed);
    if (header != State::Complete)
        return header;
    return parseBody(raw.mid(pos));
}

CalcRequest::State CalcRequest::parseHeaderLines(const QList<QByteArray> &lines, int needed)
{
    numbers.clear();
    if (lines.first() == "PCB") {
        // The PCB settings' passes travel in no request: how much copper a layout clears beside
        // each piece, and so how many passes it takes, is the server's --isolation-width.
        static const QList<QByteArray> parts{"Layout", "Outline", "Drill", "BotLayout"};
        const int index = parts.indexOf(lines.at(2));
        if (index < 0 || !isNumber(lines.at(1), &boardValue) || std::fabs(boardValue) > 100)
            return State::Malformed;
        kind = static_cast<Kind>(index);
        // A layout does not use the thickness: an empty or unreadable setting (stored as 0) must
        // not cost the user the layout. Drilling and cutting out need a real depth.
        if (boardValue <= 0 && kind != Layout && kind != BotLayout)
            return State::Malformed;
        return isCount(lines.at(3), &declaredLength) ? State::Complete : State::Malformed;
    }
    kind = lines.first() == "STL" ? Stl : Dxf;
    if (!isCount(lines.at(1), &declaredLength))
        return State::Malformed;
    for (int i = 2; i < needed; ++i) {
        double value = 0;
        if (!isNumber(lines.at(i), &value) || std::fabs(value) > 1e6)
            return State::Malformed;
        numbers.append(value);
    }
    return State::Complete;
}

CalcRequest::State CalcRequest::parseBody(const QByteArray &body)
{
    // A character takes at least one byte: no need to look at a body shorter than declared.
    if (body.size() < declaredLength)
        return State::Incomplete;
    const qint64 units = utf16Units(body);
    const bool rawStlLength = kind == Stl && body.size() == declaredLength;
    if (units < declaredLength && !rawStlLength)
        return State::Incomplete;
    QTextCodec::ConverterState state;
    const QString decoded = QTextCodec::codecForName("UTF-8")->toUnicode(body.constData(), body.size(), &state);
    const bool validText = state.invalidChars == 0 && state.remainingChars == 0;
    if (validText && decoded.size() == declaredLength) {
        text = decoded;
        return State::Complete;
    }
    if (rawStlLength && !validText) {
        rawBody = body;
        return State::Complete;
    }
    if (units < declaredLength)
        return State::Incomplete;
    // More text than declared, or text that is not UTF-8: the length field lies.
    return State::Malformed;
}
