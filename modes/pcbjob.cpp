#include "modes/pcbjob.h"

#include "link/pcbserialmessage.h"
#include "link/probemessage.h"
#include "link/stopmessage.h"
#include "modes/mode_pcb.h"
#include "modes/probegrid.h"
#include "modes/surfacefollower.h"
#include "modes/turnoutline.h"

#include <cmath>
#include <limits>

namespace {
QString number(float value)
{
    return QString::number(value, 'f', 6);
}

QString shortNumber(float value)
{
    return QString::number(value, 'g', 6);
}
} // namespace

PcbJob::PcbJob(const Layers &layers, const PcbJobSettings &settings, const QVector3D &origin, Mode_PCB *mode)
    : m_layers(layers)
    , m_settings(settings)
    , m_origin(origin)
    , m_mode(mode)
{
}

PcbJob::~PcbJob() = default;

PathGeometry::Extent PcbJob::boardExtent(const Layers &layers)
{
    PathGeometry::Extent extent = PathGeometry::Extent::empty();
    for (const PcbProgram &layer : layers)
        extent.unite(layer.extent());
    return extent;
}

float PcbJob::bottomShift(const Layers &layers)
{
    const PathGeometry::Extent bottom = layers[Bottom].extent();
    if (bottom.isEmpty())
        return 0.0f;
    const PathGeometry::Extent board = boardExtent(layers);
    return float((double(board.minX) + board.maxX) - (double(bottom.minX) + bottom.maxX));
}

QString PcbJob::side() const
{
    return !m_layers[Bottom].isEmpty() && !m_bottomDone ? QStringLiteral("bot") : QStringLiteral("top");
}

bool PcbJob::hasTopSide() const
{
    return !m_layers[Top].isEmpty() || !m_layers[Drill].isEmpty() || !m_layers[Outline].isEmpty();
}

QList<SerialMessage *> PcbJob::startPass()
{
    const PathGeometry::Extent board = boardExtent(m_layers);
    m_grid = std::make_unique<ProbeGrid>(board.minX, board.minY, board.maxX, board.maxY, m_origin);
    m_frame = std::make_unique<TurnOutline>(board.minX, board.minY, board.maxX, board.maxY,
                                            m_settings.outlineDiameter);
    m_toolProbePoint = QVector3D(m_settings.toolProbe.x(), m_settings.toolProbe.y(),
                                 std::numeric_limits<float>::quiet_NaN());
    m_messages.clear();
    addPrompt(QStringLiteral("\n"), QStringLiteral("Change to engraving bit"), 0);
    addPause();
    addToolProbe();
    return m_messages;
}

QList<SerialMessage *> PcbJob::probing()
{
    return m_grid->probeMessages(side());
}

QString PcbJob::missingMeasurement() const
{
    const int missing = m_grid->firstUnmeasured();
    if (missing >= 0) {
        const QVector3D p = m_grid->point(missing);
        return QStringLiteral("The probe reported no height at X%1 Y%2 of the board.")
            .arg(shortNumber(p.x()), shortNumber(p.y()));
    }
    if (std::isnan(m_toolProbePoint.z()))
        return QStringLiteral("The probe reported no length of the engraving bit.");
    return QString();
}

QList<SerialMessage *> PcbJob::stages(const QString &side)
{
    m_messages.clear();
    if (side != QLatin1String("top")) {
        addEngraving(Bottom);
        addFlipOutline();
    } else {
        addEngraving(Top);
        addDrilling();
        addOutline();
    }
    if (!m_messages.isEmpty())
        m_messages.last()->setLast(true);
    return m_messages;
}

void PcbJob::addNumbered(SerialMessage *message)
{
    message->setLineNumber(quint32(m_messages.size()));
    m_messages << message;
}

void PcbJob::addLine(const QString &text)
{
    addPrompt(text, QString(), -1);
}

void PcbJob::addPrompt(const QString &content, const QString &promptText, int promptType)
{
    auto *message = new PCBSerialMessage(promptText, promptType);
    message->setContent(content);
    addNumbered(message);
}

void PcbJob::addPause()
{
    m_messages << new StopMessage(m_mode);
    addLine(QStringLiteral("M0\n"));
}

// Spindle off, millimetres, absolute, no offsets, tool up at machine Z 0.
void PcbJob::addPreamble()
{
    for (const char *line : {"M5\n", "G21\n", "G90\n", "G92.1\n", "M5\n", "G0 Z0\n"})
        addLine(QString::fromLatin1(line));
}

void PcbJob::addToolProbe()
{
    addPreamble();
    addLine(QStringLiteral("G0 X") + number(m_toolProbePoint.x()) + QStringLiteral(" Y")
            + number(m_toolProbePoint.y()) + QLatin1Char('\n'));
    addLine(QStringLiteral("M5\n"));
    auto *probe = new ProbeMessage(&m_toolProbePoint);
    probe->setContent(QStringLiteral("G38.2 Z-65 F100\n"));
    addNumbered(probe);
    addLine(QStringLiteral("G0  Z0\n"));
}

// The new tool touching the probe gets the Z that puts Z 0 on the board surface at the first grid point.
// GRBL stops a probing move only after decelerating from the touch: at F100 the tool ends up to a tenth
// of a millimetre below it, and Z set there would cut that much too deep. So the tool then rises slowly
// until it leaves the probe, which stops it within a micrometre of the touch, and Z is set there.
void PcbJob::addReReference()
{
    addPreamble();
    addLine(QStringLiteral("G0 X") + number(m_settings.tableProbe.x()) + QStringLiteral(" Y")
            + number(m_settings.tableProbe.y()) + QLatin1Char('\n'));
    addLine(QStringLiteral("M5\n"));
    addLine(QStringLiteral("G38.2 Z-65 F100\n"));
    addLine(QStringLiteral("G38.4 Z0 F5\n"));
    addLine(QStringLiteral("G92  Z") + shortNumber(m_toolProbePoint.z() - m_grid->firstPoint().z()) + QLatin1Char('\n'));
    addLine(QStringLiteral("G0 Z40\n"));
    moveToFirstPoint();
}

// From here on the board's design coordinates.
void PcbJob::moveToFirstPoint()
{
    const QVector3D first = m_grid->firstPoint();
    addLine(QStringLiteral("G0 X") + number(m_origin.x() + first.x()) + QStringLiteral(" Y")
            + number(m_origin.y() + first.y()) + QLatin1Char('\n'));
    addLine(QStringLiteral("G92  X") + number(first.x()) + QStringLiteral(" Y") + number(first.y()) + QLatin1Char('\n'));
}

void PcbJob::addToolChange(const QString &promptText, int promptType)
{
    addPreamble();
    addPrompt(QStringLiteral("\n"), promptText, promptType);
    addPause();
    addReReference();
}

// The engraving bit is still the one that probed the grid: the surface at the first point becomes Z 0.
void PcbJob::addEngraving(Layer layer)
{
    const PcbProgram &program = m_layers[layer];
    if (program.isEmpty())
        return;
    for (const char *line : {"M5\n", "G21\n", "G90\n", "G92.1\n", "G0 Z0\n"})
        addLine(QString::fromLatin1(line));
    addLine(QStringLiteral("G92  Z") + number(-m_grid->firstPoint().z()) + QLatin1Char('\n'));
    moveToFirstPoint();
    SurfaceFollower follower(*m_grid, [this](const QString &text) { addLine(text); },
                             layer == Bottom ? bottomShift(m_layers) : 0.0f);
    for (const GcodeLine &line : program.lines())
        follower.rewrite(line);
}

// Each tool change of the drill program is its line "Change tool bit to ..." and two more that are skipped.
void PcbJob::addDrilling()
{
    const QVector<GcodeLine> &lines = m_layers[Drill].lines();
    const QString feed = QStringLiteral(" F") + number(m_settings.drillFeed);
    SurfaceFollower follower(*m_grid, [this](const QString &text) { addLine(text); });
    for (int i = 0; i < lines.size();) {
        if (lines.at(i).text().contains(QLatin1String("Change tool bit to"))) {
            addToolChange(lines.at(i).text(), 2);
            follower.spindleStopped();
            i += 3;
            continue;
        }
        follower.rewrite(lines.at(i), feed);
        ++i;
    }
}

void PcbJob::addOutline()
{
    const PcbProgram &program = m_layers[Outline];
    if (program.isEmpty())
        return;
    addToolChange(QStringLiteral("Change to 2mm outline milling cutter"), 1);
    const QString feed = QStringLiteral(" F") + number(m_settings.outlineFeed);
    SurfaceFollower follower(*m_grid, [this](const QString &text) { addLine(text); });
    for (const GcodeLine &line : program.lines())
        follower.rewrite(line, feed);
}

// The frame is not compensated: its depth is the board's thickness below the surface at the first point.
void PcbJob::addFlipOutline()
{
    addToolChange(QStringLiteral("Change to ") + shortNumber(m_settings.outlineDiameter)
                      + QStringLiteral("mm outline milling cutter"),
                  1);
    const float depth = -std::fabs(m_settings.boardThickness - 0.05f);
    for (PCBSerialMessage *line : m_frame->messages(depth, m_settings.outlineFeed, m_settings.outlineDepthPerPass))
        addNumbered(line);
    addPreamble();
    addLine(QStringLiteral("G0X72.5Y145\n"));
}
