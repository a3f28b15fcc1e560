#ifndef DRILLPROGRAM_H
#define DRILLPROGRAM_H

#include <QStringList>

// Drilling program for an Excellon file: holes grouped by tool, smallest drill first, each
// group visited in a short travel order, every hole drilled to the given depth below the surface.
class DrillProgram
{
public:
    static QStringList build(const QString &excellon, double depth);
};

#endif
