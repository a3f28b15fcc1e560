#ifndef OUTLINEPROGRAM_H
#define OUTLINEPROGRAM_H

#include <QStringList>

// Cuts a board out along its outline drawn in a Gerber file: the drawn lines are chained into
// closed loops; the largest loop is the board (other loops outside it of at least a tenth of
// its area are further boards; smaller ones, such as text, are left alone), loops inside a board
// are cut-outs. A 2 mm cutter runs outside each board and inside each cut-out, in passes of at
// most 0.6 mm down to the given depth. Holding tabs keep the board in the sheet: over their
// length the last passes stay at half the depth.
class OutlineProgram
{
public:
    static QStringList build(const QString &gerber, double depth, int tabs);

    static constexpr double cutterDiameter = 2.0;
    static constexpr double tabWidth = 3.0;
};

#endif
