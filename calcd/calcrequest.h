#ifndef CALCREQUEST_H
#define CALCREQUEST_H

#include <QByteArray>
#include <QString>
#include <QVector>

// One request of the calculation protocol: a few header lines, the design file's length in
// UTF-16 code units and the file's text. The kind numbers are the ones the program uses.
class CalcRequest
{
public:
    enum Kind { Layout = 0, Outline = 1, Drill = 2, BotLayout = 3, Stl = 4, Dxf = 5 };
    enum class State { Incomplete, Complete, Malformed };

    // Reads as much of the raw bytes as has arrived. Complete fills the request, Malformed
    // means no continuation can make the bytes a valid request.
    State parse(const QByteArray &raw);

    Kind kind = Layout;
    // PCB: board thickness (layout), drill depth (drill), outline depth (outline).
    double boardValue = 0;
    // STL: cutter diameter, cutting depth, feed rate, depth per pass, reserved.
    // DXF: feed rate, reserved, depth per pass, cutting depth, spindle speed.
    QVector<double> numbers;
    QString text;
    // A binary STL file does not survive UTF-8 decoding; its raw bytes are kept here.
    QByteArray rawBody;

private:
    State parseHeaderLines(const QList<QByteArray> &lines, int needed);
    State parseBody(const QByteArray &body);
    qint64 declaredLength = -1;
};

#endif
