#ifndef EXCELLONFILE_H
#define EXCELLONFILE_H

#include <QPointF>
#include <QStringList>
#include <QVector>

// An Excellon drill file read on its own: units, zero suppression and number format from the
// header where it states them, tool tables in the header or the body, drilled holes, G85 slots
// and routed paths (G00 / M15 / G01, G02, G03 / M16 or M17), absolute and incremental
// coordinates, G93 zero offsets and R repeats. Coordinates without a decimal point are read as:
// - units: INCH or METRIC in the header, M72 or M71 anywhere; a file that says neither is in
//   inches unless a tool is 0.3 or more across, which no inch drill is;
// - zeros: LZ (leading zeros written, trailing ones left off: numbers are left-aligned) or TZ
//   (trailing zeros written: right-aligned) in the header; a file that says neither is LZ only
//   when its numbers start with zeros and never end with one, else TZ, as most CAM systems write;
// - digits: ";FILE_FORMAT=a:b", "FILE_FORMAT=a:b" or a format such as "INCH,LZ,00.0000"; else
//   2:4 for inches and 3:3 for mm, the Excellon defaults. For right-aligned numbers whose format
//   the file leaves open, one decimal fewer is taken when the default would make holes of the
//   file overlap each other (older gEDA files count in thousandths of an inch).
class ExcellonFile
{
public:
    struct Tool
    {
        int number = 0;
        // mm; 0 when the file gives no diameter.
        double diameter = 0;
        QVector<QPointF> holes;
        // Slots and routed paths as lines through their points, in mm.
        QVector<QVector<QPointF>> routes;
    };

    // False, with the reason, when the text holds no Excellon drilling.
    bool read(const QString &text, QString *problem);
    // Tools that drill or route something, in the order the file first uses them.
    const QVector<Tool> &tools() const { return used; }

private:
    QVector<Tool> used;
};

#endif
