#ifndef ISOLATIONPROGRAM_H
#define ISOLATIONPROGRAM_H

#include <QStringList>

// Isolation engraving of a copper layout (answer form in answerformat.h): the tool centre follows
// the copper grown by half the engraving width, so the cut touches the copper without entering it
// and every gap wider than the cut is isolated. Only loops that isolate something are milled: the
// outline of every piece of copper, and the holes in pieces that hold other copper; a hole with
// nothing in it (the meshes of a hatched pour) is left alone. Where two pieces lie closer than the
// tool is wide the answer says so (and the paths stay clear of both). A wider isolation than one
// cut is made in further passes, each a little farther out, overlapping the one before.
//
// A bottom layout is answered mirrored left to right about the vertical centre line of its own
// tool paths (x -> minX + maxX - x), so the answer covers the same X range as the unmirrored
// paths and whoever reads it can undo the mirror from the answer alone. The board is turned over
// about the vertical centre line of the flip frame, which the program centres on all loaded
// layers together; the program shifts the bottom answer by twice the difference of the two centre
// lines before it mills it.
class IsolationProgram
{
public:
    struct Cut
    {
        double toolWidth = 0.1536;
        double depth = 0.1;
        // Width of copper cleared beside each piece; more than the tool width takes more passes.
        double isolationWidth = 0.1536;
    };

    // problem: why the answer is empty.
    static QStringList build(const QString &gerber, const Cut &cut, bool mirrored, QString *problem);

    static constexpr double feed = 150;
};

#endif
