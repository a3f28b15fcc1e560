#include "tools/grblsim/motionlog.h"

#include <QFile>
#include <QStringList>

namespace {
QString axes(const Axes &point)
{
    return QStringLiteral("%1,%2,%3").arg(point[0], 0, 'f', 4).arg(point[1], 0, 'f', 4).arg(point[2], 0, 'f', 4);
}

QString kindName(SimulatedMotion::Kind kind)
{
    switch (kind) {
    case SimulatedMotion::Kind::Rapid: return QStringLiteral("rapid");
    case SimulatedMotion::Kind::Feed: return QStringLiteral("feed");
    case SimulatedMotion::Kind::Jog: return QStringLiteral("jog");
    case SimulatedMotion::Kind::Probe: return QStringLiteral("probe");
    case SimulatedMotion::Kind::Homing: return QStringLiteral("homing");
    }
    return QString();
}
}

MotionLog::MotionLog() = default;
MotionLog::~MotionLog() = default;

bool MotionLog::open(const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = QStringLiteral("cannot open the motion log %1").arg(path);
        return false;
    }
    QMutexLocker locker(&m_mutex);
    m_file = std::move(file);
    return true;
}

// One tab-separated line per motion: "move", kind, start, end, F, M and S, then "arc" with centre,
// sweep and plane for chords of an arc, "short" when cut short, "dry-cut" for a cut below the
// surface with the spindle stopped, and last the received line.
void MotionLog::addMotion(const SimulatedMotion &motion)
{
    QMutexLocker locker(&m_mutex);
    if (m_keepRecords)
        m_motions << motion;
    if (motion.cutWithSpindleStopped)
        ++m_cutsWithSpindleStopped;
    if (!m_file)
        return;
    QStringList fields = {QStringLiteral("move"), kindName(motion.kind), axes(motion.start), axes(motion.end),
                          QStringLiteral("F%1").arg(motion.feed, 0, 'f', 1),
                          QStringLiteral("M%1").arg(motion.spindle),
                          QStringLiteral("S%1").arg(motion.spindleSpeed, 0, 'f', 0)};
    if (motion.arc)
        fields << QStringLiteral("arc %1 %2 G%3").arg(axes(motion.arcCentre)).arg(motion.arcSweep, 0, 'f', 6).arg(motion.arcPlane);
    if (!motion.completed)
        fields << QStringLiteral("short");
    if (motion.cutWithSpindleStopped)
        fields << QStringLiteral("dry-cut");
    fields << motion.line;
    write(fields.join(QLatin1Char('\t')));
}

// "line", the answer, the position and the work offset, then the received line.
void MotionLog::addLine(const AnsweredLine &line)
{
    QMutexLocker locker(&m_mutex);
    if (m_keepRecords)
        m_lines << line;
    if (m_file)
        write(QStringList{QStringLiteral("line"), line.answer, axes(line.position), axes(line.workOffset), line.line}
                  .join(QLatin1Char('\t')));
}

void MotionLog::write(const QString &text)
{
    m_file->write(text.toLatin1() + '\n');
    m_file->flush();
}

QVector<SimulatedMotion> MotionLog::motions() const
{
    QMutexLocker locker(&m_mutex);
    return m_motions;
}

QVector<AnsweredLine> MotionLog::lines() const
{
    QMutexLocker locker(&m_mutex);
    return m_lines;
}

int MotionLog::cutsWithSpindleStopped() const
{
    QMutexLocker locker(&m_mutex);
    return m_cutsWithSpindleStopped;
}
