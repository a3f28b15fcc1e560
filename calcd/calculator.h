#ifndef CALCULATOR_H
#define CALCULATOR_H

#include "calcd/calcoptions.h"

#include <QByteArray>

class CalcRequest;

// Turns one complete request into its answer text; an empty answer means no result.
class Calculator
{
public:
    explicit Calculator(const CalcOptions &options) : options(options) {}
    // problem: why the answer is empty, or what the user should know about it.
    QByteArray answer(const QByteArray &rawRequest, QString *problem) const;

    // GRBL reads at most 80 characters a line; the program itself accepts less than 70.
    static constexpr int maxLineLength = 69;

private:
    QStringList program(const CalcRequest &request, QString *problem) const;

    CalcOptions options;
};

#endif
