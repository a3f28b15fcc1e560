#pragma once

#include <QString>
#include <QVarLengthArray>

class GcodeLine;

// The words of one line as GRBL reads them: every letter starts a word, its number is a plain
// decimal, comments run in parentheses or from ";" to the end of the line, and every G word counts
// ("G0 G90 X10"). A line GRBL would refuse (an unknown letter, a word without a number, a letter
// other than G or M twice) is not valid: the machine answers it with an error and does nothing.
class MachineBlock
{
public:
    // G and M words in tenths: G38.2 is 382, G92.1 is 921, M3 is 30.
    using Codes = QVarLengthArray<int, 8>;

    // A plain line is read through the parsed line itself, which must outlive the block.
    explicit MachineBlock(const GcodeLine &line);

    bool isValid() const { return m_valid; }
    bool has(char letter) const;
    double value(char letter) const;        // 0 when absent
    const Codes &gCodes() const { return m_gCodes; }
    const Codes &mCodes() const { return m_mCodes; }

private:
    static quint32 bit(char letter) { return 1u << (letter - 'A'); }
    void read(const QString &text);
    void add(char letter, double number);
    static int code(double number);

    const GcodeLine *m_plain = nullptr;
    double m_values[26];                    // set where m_present has the letter's bit
    quint32 m_present = 0;
    Codes m_gCodes;
    Codes m_mCodes;
    bool m_valid = true;
};
