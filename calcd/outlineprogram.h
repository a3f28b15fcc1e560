#ifndef OUTLINEPROGRAM_H
#define OUTLINEPROGRAM_H

#include <QStringList>

// Cuts a board out along its outline drawn in a Gerber file (answer form in answerformat.h): the
// drawn lines are chained into closed loops; the largest loop is the board (other loops outside
// it of at least a tenth of its area are further boards; smaller ones, such as text, are left
// alone), loops inside a board are cut-outs. A 2 mm cutter runs outside each board and inside each
// cut-out, always with the board on its left, so that every edge of the board is milled the same
// way (climb milling with the spindle turning clockwise), in passes of at most 0.6 mm down to the
// given depth. Holding tabs keep each board in the sheet: over their length the last passes stay
// at half the depth. A board gets the tabs asked for, fewer where its outline is too short to
// space them, but at least one.
class OutlineProgram
{
public:
    // problem: why the answer is empty.
    static QStringList build(const QString &gerber, double depth, int tabs, QString *problem);

    static constexpr double cutterDiameter = 2.0;
    static constexpr double tabWidth = 3.0;
    static constexpr double feed = 300;
};

#endif
