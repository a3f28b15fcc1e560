#ifndef DRILLPROGRAM_H
#define DRILLPROGRAM_H

#include <QStringList>

// Drilling program for an Excellon file (answer form in answerformat.h): holes grouped by drill
// diameter, smallest drill first, each group visited in a short travel order (see TourOrder),
// every hole drilled to the given depth below the surface. Slots and routed paths are drilled as
// rows of holes a quarter of the drill apart, so a drill bit only ever plunges. A tool the file
// gives no diameter is asked for by its number, and the answer says so.
class DrillProgram
{
public:
    // problem: why the answer is empty, or what the user should know about it.
    static QStringList build(const QString &excellon, double depth, QString *problem);

    static constexpr double plungeFeed = 60;
};

#endif
