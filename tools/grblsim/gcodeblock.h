#pragma once

#include <QMap>
#include <QString>
#include <QVector>

// One G-code line as GRBL's parser sees it: already stripped of blanks and comments and in
// upper case, split into G and M commands and value words.
class GcodeBlock
{
public:
    // GRBL status code of the parse (0 when the block is well formed).
    int parse(const QString &strippedLine);

    // G and M numbers are kept in tenths: G38.2 is 382, G1 is 10.
    bool hasG(int tenths) const { return m_gCodes.contains(tenths); }
    bool hasM(int number) const { return m_mCodes.contains(number * 10); }
    const QVector<int> &gCodes() const { return m_gCodes; }
    const QVector<int> &mCodes() const { return m_mCodes; }
    bool has(char letter) const { return m_words.contains(letter); }
    double value(char letter) const { return m_words.value(letter); }
    bool hasAxisWord() const { return has('X') || has('Y') || has('Z'); }
    // The G command of the motion group in this block, or -1.
    int motion() const;

private:
    int addCommand(char letter, double number);

    QVector<int> m_gCodes;
    QVector<int> m_mCodes;
    QMap<char, double> m_words;
};
