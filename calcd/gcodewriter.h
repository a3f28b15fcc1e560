#ifndef GCODEWRITER_H
#define GCODEWRITER_H

#include <QString>
#include <QStringList>

#include <initializer_list>

// Collects G-code lines. Numbers are written with at most four decimals (depths with seven,
// so that a depth of 1e-07 survives) and without trailing zeros, which keeps every line short
// and within what GRBL 1.1 reads.
class GcodeWriter
{
public:
    struct Word
    {
        char letter;
        double value;
    };

    void line(const QString &text);
    void words(const char *command, std::initializer_list<Word> words);
    QStringList lines() const { return written; }
    bool isEmpty() const { return written.isEmpty(); }

    static QString number(double value, int decimals);

private:
    QStringList written;
};

#endif
