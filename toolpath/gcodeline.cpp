#include "toolpath/gcodeline.h"

#include <QVarLengthArray>

namespace {

using Word = QVarLengthArray<QChar, 48>;

bool isAddressLetter(QChar c)
{
    switch (c.unicode()) {
    case 'F': case 'G': case 'I': case 'J': case 'K': case 'M':
    case 'N': case 'P': case 'R': case 'X': case 'Y': case 'Z':
        return true;
    default:
        return false;
    }
}

bool isAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

QChar asciiUpper(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 'a' && u <= 'z') ? QChar(u - ('a' - 'A')) : c;
}

// Walks the upper-cased text and hands every word to `take`, which returns false to stop early.
// Words end where an address letter follows; blanks are dropped at both ends of the pending word each
// time a character arrives, and everything from "(" on is ignored, also a ")" later on the line.
// Callers pass ASCII text with asciiUpper, or text upper-cased by Qt (whose length may differ).
template<typename Upper, typename Take>
void walkWords(const QString &text, Upper upper, Take take)
{
    Word pending;
    bool comment = false;
    for (const QChar raw : text) {
        while (!pending.isEmpty() && pending.last().isSpace())
            pending.removeLast();
        const QChar c = upper(raw);
        if (c == QLatin1Char('('))
            comment = true;
        if (!pending.isEmpty() && isAddressLetter(c)) {
            if (!take(pending))
                return;
            pending.clear();
        }
        if (!comment)
            pending.append(c);
    }
    if (!pending.isEmpty())
        take(pending);
}

template<typename Take>
void splitWords(const QString &text, Take take)
{
    if (isAscii(text))
        walkWords(text, asciiUpper, take);
    else
        walkWords(text.toUpper(), [](QChar c) { return c; }, take);
}

// Plain decimals ("-12.345", ".5", "7.") with at most 15 digits are converted here exactly as Qt
// would (the digits as an integer divided by a power of ten is correctly rounded in double
// precision, as is Qt's own conversion); everything else goes to Qt.
bool convertPlainDecimal(const QChar *begin, const QChar *end, float *number)
{
    while (end > begin && end[-1].isSpace())
        --end;
    const QChar *p = begin;
    bool negative = false;
    if (p < end && (*p == QLatin1Char('-') || *p == QLatin1Char('+'))) {
        negative = *p == QLatin1Char('-');
        ++p;
    }
    static const double powersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
                                         1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    qint64 digits = 0;
    int digitCount = 0;
    int fractionDigits = 0;
    bool point = false;
    for (; p < end; ++p) {
        const ushort u = p->unicode();
        if (u >= '0' && u <= '9') {
            if (++digitCount > 15)
                return false;
            digits = digits * 10 + (u - '0');
            fractionDigits += point ? 1 : 0;
        } else if (u == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digitCount == 0)
        return false;
    const double magnitude = double(digits) / powersOfTen[fractionDigits];
    *number = float(negative ? -magnitude : magnitude);
    return true;
}

// Text that is no number, or one outside the float range, counts as 0.
float convertOtherNumber(const QChar *begin, const QChar *end)
{
    bool ok = false;
    const float number = QString::fromRawData(begin, int(end - begin)).toFloat(&ok);
    return ok ? number : 0.0f;
}

} // namespace

inline void GcodeLine::store(QChar key, float number, bool plain)
{
    int slot = addressSlot(key);
    if (slot < 0) {
        slot = OtherSlot;
        m_otherLetter = key;
    }
    // A second G word is how GRBL reads several modal commands; any other repeated letter it refuses.
    const quint16 bit = quint16(1u << slot);
    const bool stillPlain = plain && slot != OtherSlot && !(m_present & bit);
    m_values[slot] = number;
    m_present |= stillPlain ? bit : quint16(bit | NotPlain);
}

GcodeLine::GcodeLine(const QString &text)
    : m_text(text)
{
    splitWords(text, [this](const Word &word) {
        const QChar *begin = word.constData() + 1;
        const QChar *end = word.constData() + word.size();
        float number = 0.0f;
        const bool plain = convertPlainDecimal(begin, end, &number);
        store(word.first(), plain ? number : convertOtherNumber(begin, end), plain);
        return true;
    });
}

QString GcodeLine::command() const
{
    QString first;
    splitWords(m_text, [&first](const Word &word) {
        first = QString(word.constData(), word.size());
        return false;
    });
    return first;
}

QMap<QString, float> GcodeLine::words() const
{
    static const char letters[] = "FGIJKMNPRXYZ";
    QMap<QString, float> map;
    for (int slot = 0; slot < OtherSlot; ++slot) {
        if (m_present & (1u << slot))
            map.insert(QString(QLatin1Char(letters[slot])), m_values[slot]);
    }
    if (m_present & (1u << OtherSlot))
        map.insert(QString(m_otherLetter), m_values[OtherSlot]);
    return map;
}
