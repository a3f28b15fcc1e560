#include "preview/jobtimeestimate.h"

#include "preview/machineinterpreter.h"
#include "toolpath/gcodeline.h"
#include "toolpath/gcodeprogram.h"

#include <cmath>

JobTimeEstimate::JobTimeEstimate(QObject *parent)
    : QObject(parent)
{
    m_settingsChanged.setSingleShot(true);
    m_settingsChanged.setInterval(0);
    connect(&m_settingsChanged, &QTimer::timeout, this, [this] {
        if (const std::shared_ptr<const GcodeProgram> program = m_program.lock())
            estimate(program);
    });
}

void JobTimeEstimate::estimate(std::shared_ptr<const GcodeProgram> program)
{
    clear();
    if (!program)
        return;
    m_program = program;
    const TravelTimePlanner::Limits limits = m_limits;
    m_work.start([program, limits](const std::atomic<bool> &cancelled) { return remainingAfterLines(*program, limits, cancelled); },
                 [this](const QVector<float> &remaining) {
                     m_remaining = remaining;
                     emit estimated();
                 });
}

void JobTimeEstimate::clear()
{
    m_work.cancel();
    m_program.reset();
    m_remaining = QVector<float>();
}

double JobTimeEstimate::remainingSeconds(qint64 programLine) const
{
    if (programLine < 0 || programLine >= m_remaining.size())
        return 0.0;
    return m_remaining.at(int(programLine));
}

QVector<float> JobTimeEstimate::remainingAfterLines(const GcodeProgram &program, const TravelTimePlanner::Limits &limits,
                                                    const std::atomic<bool> &cancelled)
{
    const int lines = int(program.lineCount());
    MachineInterpreter interpreter;
    TravelTimePlanner planner(limits, lines);
    for (int line = 0; line < lines && !cancelled.load(std::memory_order_relaxed); ++line) {
        planner.setLine(line);
        interpreter.interpret(GcodeLine(program.line(line)), planner);
    }
    // Each line's time becomes the time from its start to the end, in place.
    QVector<float> remaining = planner.finish();
    double left = 0.0;
    for (int line = lines - 1; line >= 0; --line) {
        left += remaining.at(line);
        remaining[line] = float(left);
    }
    remaining.append(0.0f);
    return remaining;
}

void JobTimeEstimate::setMachineSetting(const QString &name, const QString &value)
{
    bool ok = false;
    const int setting = name.startsWith(QLatin1Char('$')) ? name.midRef(1).toInt(&ok) : -1;
    double *field = nullptr;
    if (setting >= 110 && setting <= 112)
        field = &m_limits.maxRate[size_t(setting - 110)];
    else if (setting >= 120 && setting <= 122)
        field = &m_limits.acceleration[size_t(setting - 120)];
    else if (setting == 11)
        field = &m_limits.junctionDeviation;
    else if (setting == 12)
        field = &m_limits.arcTolerance;
    const double number = value.toDouble(&ok);
    // Only a junction deviation may be 0 (every corner from standstill).
    const bool usable = ok && std::isfinite(number) && (number > 0.0 || (setting == 11 && number == 0.0));
    if (!field || !usable || *field == number)
        return;
    *field = number;
    if (!m_program.expired())
        m_settingsChanged.start();
}

QString JobTimeEstimate::clockText(double seconds)
{
    // Anything beyond a year is a broken estimate rather than a job.
    const qint64 whole = seconds > 0.0 && seconds < 3.2e7 ? qint64(std::llround(seconds)) : 0;
    const qint64 hours = whole / 3600;
    const QString minutes = QStringLiteral("%1:%2")
                                .arg(whole / 60 % 60, hours ? 2 : 1, 10, QLatin1Char('0'))
                                .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return hours ? QStringLiteral("%1:%2").arg(hours).arg(minutes) : minutes;
}
