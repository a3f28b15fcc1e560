#pragma once

#include <QString>
#include <QStringList>

// GRBL reports failures by number only; these are the sentences shown to the user for them.
class GrblTexts
{
public:
    static QString alarmText(int number);
    static QString errorText(int number);

private:
    static QString lookUp(const QStringList &texts, int number);
    static const QStringList &alarmTexts();
    static const QStringList &errorTexts();
};
