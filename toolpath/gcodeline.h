#pragma once

#include <QChar>
#include <QMap>
#include <QString>

// One G-code line split into address words (a letter and a number), its first word as the command, and
// its text. Parsed for every line of every program, so the words are kept in a fixed array indexed by
// letter: has() and value() never allocate, and words() builds its map only when asked.
class GcodeLine
{
public:
    GcodeLine() = default;
    explicit GcodeLine(const QString &text);

    bool has(QChar letter) const { return slotOf(letter) >= 0; }
    bool has(const QString &letter) const { return letter.size() == 1 && has(letter.at(0)); }
    float value(QChar letter) const
    {
        const int slot = slotOf(letter);
        return slot < 0 ? 0.0f : m_values[slot];
    }
    float value(const QString &letter) const { return letter.size() == 1 ? value(letter.at(0)) : 0.0f; }

    QString command() const;
    QString text() const { return m_text; }
    QMap<QString, float> words() const;
    // Every word is an address letter with a plain decimal number ("X-1.5"), none of them twice: the
    // controller reads such a line into the same words. Otherwise ("G0 G90 X1", "G10 L20 P1 X0",
    // "G1 X5 S1000", where other letters glue onto a word and its number reads as 0) a consumer that
    // must follow the machine reads the text itself.
    bool isPlain() const { return !(m_present & NotPlain); }

private:
    // The twelve address letters get slots 0-11; slot 12 holds a first word led by any other character.
    static constexpr int OtherSlot = 12;
    // A flag beside the slots' bits.
    static constexpr quint16 NotPlain = 1u << 13;
    static int addressSlot(QChar letter)
    {
        switch (letter.unicode()) {
        case 'F': return 0;
        case 'G': return 1;
        case 'I': return 2;
        case 'J': return 3;
        case 'K': return 4;
        case 'M': return 5;
        case 'N': return 6;
        case 'P': return 7;
        case 'R': return 8;
        case 'X': return 9;
        case 'Y': return 10;
        case 'Z': return 11;
        default: return -1;
        }
    }
    int slotOf(QChar letter) const
    {
        const int slot = addressSlot(letter);
        if (slot >= 0)
            return (m_present & (1u << slot)) ? slot : -1;
        return (m_present & (1u << OtherSlot)) && letter == m_otherLetter ? OtherSlot : -1;
    }
    void store(QChar key, float number, bool plain);

    QString m_text;
    float m_values[OtherSlot + 1] = {};
    quint16 m_present = 0;
    QChar m_otherLetter;
};
