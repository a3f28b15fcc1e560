#include "modes/resumepoint.h"

#include "preview/machineblock.h"
#include "toolpath/gcodeline.h"
#include "toolpath/gcodeprogram.h"

#include <algorithm>

namespace {
constexpr double MmPerInch = 25.4;

bool hasCode(const MachineBlock::Codes &codes, int code)
{
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

QString refusal(qint64 line, const QString &why)
{
    return QStringLiteral("The program cannot be started at line %1: %2.").arg(line).arg(why);
}
}

ResumePoint ResumePoint::scan(const GcodeProgram &program, qint64 line, QString *error)
{
    ResumePoint point;
    error->clear();
    for (qint64 i = 0; i < line && error->isEmpty(); ++i) {
        const GcodeLine parsed(program.line(i));
        const MachineBlock block(parsed);
        if (!block.isValid())
            continue;
        const QString problem = point.scanLine(block);
        if (!problem.isEmpty())
            *error = refusal(line + 1, QStringLiteral("line %1 %2").arg(i + 1).arg(problem));
    }
    if (!error->isEmpty())
        return point;
    if (!(point.m_known[0] && point.m_known[1] && point.m_known[2] && point.m_clearanceKnown))
        *error = refusal(line + 1, QStringLiteral("the position before it is not known from the program"));
    else if (point.m_feed <= 0.0)
        *error = refusal(line + 1, QStringLiteral("the program sets no feed before it"));
    return point;
}

// Returns why the line stops the state from being followed, or nothing.
QString ResumePoint::scanLine(const MachineBlock &block)
{
    const MachineBlock::Codes &g = block.gCodes();
    static const std::pair<int, const char *> offsetCodes[] = {
        {920, "G92"}, {100, "G10"}, {281, "G28.1"}, {301, "G30.1"}, {431, "G43.1"}};
    for (const auto &offset : offsetCodes) {
        if (hasCode(g, offset.first))
            return QStringLiteral("sets an offset (%1)").arg(QLatin1String(offset.second));
    }
    for (const int code : g) {
        if (code == 200 || code == 210)
            m_inches = code == 200;
        else if (code == 900 || code == 910)
            m_incremental = code == 910;
        else if (code == 170 || code == 180 || code == 190)
            m_plane = code / 10;
        else if (code >= 540 && code <= 590 && code % 10 == 0)
            m_system = code / 10;
    }
    for (const int code : block.mCodes()) {
        if (code == 30 || code == 40 || code == 50)
            m_spindle = code / 10;
        else if (code == 70)
            m_mist = true;
        else if (code == 80)
            m_flood = true;
        else if (code == 90)
            m_mist = m_flood = false;
    }
    if (block.has('F'))
        m_feed = block.value('F');
    if (block.has('S'))
        m_spindleSpeed = block.value('S');
    const bool positionLost = hasCode(g, 530) || hasCode(g, 280) || hasCode(g, 300)
        || std::any_of(g.begin(), g.end(), [](int code) { return code >= 382 && code <= 385; });
    const double unit = m_inches ? MmPerInch : 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        const char letter = char('X' + axis);
        if (!block.has(letter))
            continue;
        if (positionLost) {
            m_known[axis] = false;
            continue;
        }
        const double value = block.value(letter) * unit;
        m_position[axis] = m_incremental ? m_position[axis] + value : value;
        m_known[axis] = m_known[axis] || !m_incremental;
    }
    if (m_known[2] && (!m_clearanceKnown || m_position[2] > m_clearance)) {
        m_clearance = m_position[2];
        m_clearanceKnown = true;
    }
    return QString();
}

QString ResumePoint::number(double millimetres) const
{
    return m_inches ? QString::number(millimetres / MmPerInch, 'f', 4) : QString::number(millimetres, 'f', 3);
}

QStringList ResumePoint::preamble() const
{
    QStringList lines{m_inches ? QStringLiteral("G20") : QStringLiteral("G21"), QStringLiteral("G%1").arg(m_plane),
                      QStringLiteral("G%1").arg(m_system), QStringLiteral("G90"),
                      QStringLiteral("G0Z") + number(m_clearance)};
    if (m_spindle == 5)
        lines << QStringLiteral("M5");
    else
        lines << QStringLiteral("M%1S%2").arg(m_spindle).arg(m_spindleSpeed);
    if (!m_flood && !m_mist)
        lines << QStringLiteral("M9");
    if (m_mist)
        lines << QStringLiteral("M7");
    if (m_flood)
        lines << QStringLiteral("M8");
    if (m_spindle != 5)
        lines << QStringLiteral("G4P2");
    lines << QStringLiteral("G0X%1Y%2").arg(number(m_position[0]), number(m_position[1]))
          << QStringLiteral("G1Z%1F%2").arg(number(m_position[2])).arg(m_feed);
    if (m_incremental)
        lines << QStringLiteral("G91");
    return lines;
}
