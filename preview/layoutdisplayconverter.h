#pragma once

#include <QStringList>
#include <QVector3D>
#include <QVector>

#include "toolpath/gcodeline.h"

// Rewrites a PCB layout program into the form the preview draws: straight moves with absolute
// coordinates, feed moves cut into pieces of at most 5 mm, coordinates beyond the machine's reach
// replaced by 0, the program's first three lines dropped and a safe-height move put in front.
class LayoutDisplayConverter
{
public:
    void convert(const QVector<GcodeLine> &lines);
    QStringList output() const { return m_output; }

private:
    void convertLine(const GcodeLine &line);
    void rapidMove(const GcodeLine &line);
    void linearMove(const GcodeLine &line);
    void arcMove(const GcodeLine &line);
    QVector3D target(const GcodeLine &line) const;
    void writeMove(const char *prefix, const QVector3D &point);

    QVector3D m_position;
    int m_motionMode = -1;
    int m_lineIndex = 0;
    QStringList m_output;
};
