#ifndef ANSWERFORMAT_H
#define ANSWERFORMAT_H

#include "calcd/gcodewriter.h"

#include <QPointF>

// The form of every PCB answer (top and bottom layout, drill file, outline). Each is G-code in mm
// and absolute coordinates, one block a line, each line followed by "\n", none longer than 69
// characters, only words GRBL 1.1 reads.
//
// Lines 1 to 3 may be dropped by the reader (the program's preview and PCB job drop them from
// layout answers); nothing after them depends on them:
//   1  "(korvex-calcd <what the answer is>)"
//   2  "(<how it was made>)"
//   3  "G21 G90"
//
// Layout and outline answers go on with
//   4  the spindle-and-feed line "M3 S12000 F<feed>": spindle on, and the feed of every move after it
//   5  "G4 P1", a second for the spindle to come up to speed
//   then report lines (below), then the moves: "G0 Z<safe>", and for each cut "G0 X.. Y..",
//   "G1 Z<depth>", "G1 X.. Y.." ..., "G0 Z<safe>"; the last line is "M5".
//
// Drill answers go on with one block per drill, smallest drill first:
//   "(MSG, Change tool bit to drill size 0.8 mm)"  the whole line is what the user is asked to do
//   "M5" and "M0"                                  the two lines the program skips: it stops the
//                                                  spindle and pauses the job itself; another
//                                                  sender stops and pauses here
//   "M3 S12000 F<plunge feed>", "G4 P1"            spindle on again for this drill
//   "G0 Z<safe>", then per hole "G0 X.. Y..", "G1 Z<depth>", "G0 Z<safe>"
// and end with "M5". Report lines stand between line 3 and the first tool change.
//
// Report lines are comments, placed before the first move so that no reader takes them for a
// move: "(Not isolated at X12.345 Y67.890)" marks a place, in the answer's own coordinates (for a
// bottom layout the mirrored ones, like its moves), where two different pieces of copper lie
// closer than the engraving tool is wide; the tool paths stay clear of both and leave them joined
// there. Drill answers report "(No diameter for tool T3: asked as drill T3)" and the like.
class AnswerFormat
{
public:
    // Lines 1 to 3.
    static void header(GcodeWriter *out, const QString &what, const QString &how);
    // Spindle on with the given feed, and the pause for it to come up to speed.
    static void spindleOn(GcodeWriter *out, double feed);
    static QString notIsolated(QPointF at);
    static QString report(const QString &text);

    static constexpr double spindleSpeed = 12000;
};

#endif
