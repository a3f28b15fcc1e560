#include "calcd/drillprogram.h"

#include "calcd/answerformat.h"
#include "calcd/excellonfile.h"
#include "calcd/gcodewriter.h"
#include "calcd/tourorder.h"

#include <QMap>

#include <cmath>
#include <limits>

namespace {

constexpr double safeHeight = 2.0;
// Holes along a slot stand this many drill diameters apart; for a drill of unknown size, 0.1 mm.
constexpr double slotPitch = 0.25;
constexpr double unknownPitch = 0.1;

struct Drill
{
    double diameter = 0;
    QVector<int> tools;
    QVector<QPointF> holes;
    int slots = 0;
};

QVector<QPointF> rowAlong(const QVector<QPointF> &route, double pitch)
{
    QVector<QPointF> holes{route.first()};
    for (int i = 1; i < route.size(); ++i) {
        const QPointF a = route[i - 1], b = route[i];
        const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
        const int steps = std::max(1, static_cast<int>(std::ceil(length / pitch - 1e-9)));
        for (int s = 1; s <= steps; ++s)
            holes.append(a + (b - a) * (double(s) / steps));
    }
    return holes;
}

// Drills by diameter (micrometres; tools without one by minus their number), smallest first.
QMap<qint64, Drill> drills(const QVector<ExcellonFile::Tool> &tools)
{
    QMap<qint64, Drill> byKey;
    for (const ExcellonFile::Tool &tool : tools) {
        const qint64 key = tool.diameter > 0 ? qRound64(tool.diameter * 1000) : std::numeric_limits<qint64>::max() - tool.number;
        Drill &drill = byKey[key];
        drill.diameter = tool.diameter;
        drill.tools.append(tool.number);
        drill.holes += tool.holes;
        for (const QVector<QPointF> &route : tool.routes)
            drill.holes += rowAlong(route, tool.diameter > 0 ? tool.diameter * slotPitch : unknownPitch);
        drill.slots += tool.routes.size();
    }
    return byKey;
}

QString toolChange(const Drill &drill)
{
    if (drill.diameter > 0)
        return QStringLiteral("(MSG, Change tool bit to drill size %1 mm)").arg(GcodeWriter::number(drill.diameter, 3));
    return QStringLiteral("(MSG, Change tool bit to drill T%1, size not in file)").arg(drill.tools.first());
}

} // namespace

QStringList DrillProgram::build(const QString &excellon, double depth, QString *problem)
{
    ExcellonFile file;
    if (!file.read(excellon, problem))
        return {};
    const QMap<qint64, Drill> byDiameter = drills(file.tools());
    int holeCount = 0;
    QStringList reports;
    for (const Drill &drill : byDiameter) {
        holeCount += drill.holes.size();
        if (drill.diameter <= 0)
            reports << QStringLiteral("No diameter for tool T%1 in the file").arg(drill.tools.first());
        if (drill.slots > 0)
            reports << QStringLiteral("Slots: %1 of %2 drilled as rows of holes")
                           .arg(drill.slots)
                           .arg(drill.diameter > 0 ? GcodeWriter::number(drill.diameter, 3) + QStringLiteral(" mm")
                                                   : QStringLiteral("tool T%1").arg(drill.tools.first()));
    }
    GcodeWriter out;
    AnswerFormat::header(&out, QStringLiteral("drilling, %1 holes with %2 drills").arg(holeCount).arg(byDiameter.size()),
                         QStringLiteral("%1 mm deep").arg(GcodeWriter::number(depth, 4)));
    for (const QString &report : qAsConst(reports))
        out.line(AnswerFormat::report(report));
    if (!reports.isEmpty())
        *problem = reports.join(QStringLiteral("; "));
    QPointF position;
    for (const Drill &drill : byDiameter) {
        out.line(toolChange(drill));
        out.line(QStringLiteral("M5"));
        out.line(QStringLiteral("M0"));
        AnswerFormat::spindleOn(&out, plungeFeed);
        out.words("G0", {{'Z', safeHeight}});
        for (const int i : TourOrder::order(drill.holes, position)) {
            position = drill.holes[i];
            out.words("G0", {{'X', position.x()}, {'Y', position.y()}});
            out.words("G1", {{'Z', -depth}});
            out.words("G0", {{'Z', safeHeight}});
        }
    }
    out.line(QStringLiteral("M5"));
    return out.lines();
}
