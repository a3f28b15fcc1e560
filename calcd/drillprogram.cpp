#include "calcd/drillprogram.h"

#include "calcd/gcodewriter.h"
#include "calcd/gerberfile.h"
#include "calcd/pathorder.h"

#include <QMap>

namespace {

constexpr double safeHeight = 2.0;

// Holes per drill diameter (mm, rounded to a micrometre so equal tools fall together).
QMap<qint64, QVector<QPointF>> holesByTool(const gerbv_image_t &image)
{
    QMap<qint64, QVector<QPointF>> holes;
    for (const gerbv_net_t *net = image.netlist; net; net = net->next) {
        if (net->aperture_state != GERBV_APERTURE_STATE_FLASH || net->aperture < 0 || net->aperture >= APERTURE_MAX)
            continue;
        const gerbv_aperture_t *tool = image.aperture[net->aperture];
        if (!tool || tool->parameter[0] <= 0)
            continue;
        const auto micrometres = qRound64(tool->parameter[0] * GerberFile::mmPerInch * 1000);
        holes[micrometres].append(QPointF(net->stop_x, net->stop_y) * GerberFile::mmPerInch);
    }
    return holes;
}

} // namespace

QStringList DrillProgram::build(const QString &excellon, double depth)
{
    const GerberFile file(excellon);
    if (!file.image() || file.image()->layertype != GERBV_LAYERTYPE_DRILL)
        return {};
    const auto holes = holesByTool(*file.image());
    GcodeWriter out;
    out.line(QStringLiteral("G21 G90"));
    QPointF position;
    for (auto tool = holes.cbegin(); tool != holes.cend(); ++tool) {
        const QString size = GcodeWriter::number(tool.key() / 1000.0, 3);
        out.line(QStringLiteral("(MSG, Change tool bit to drill size %1 mm)").arg(size));
        out.line(QStringLiteral("M5"));
        out.line(QStringLiteral("M0"));
        out.line(QStringLiteral("M3 S12000 F60"));
        out.words("G0", {{'Z', safeHeight}});
        for (const QPointF &hole : PathOrder::nearestFirst(tool.value(), position)) {
            out.words("G0", {{'X', hole.x()}, {'Y', hole.y()}});
            out.words("G1", {{'Z', -depth}});
            out.words("G0", {{'Z', safeHeight}});
            position = hole;
        }
    }
    if (holes.isEmpty())
        return {};
    out.line(QStringLiteral("M5"));
    return out.lines();
}
