#include "modes/surfacefollower.h"

#include "modes/pcbprogram.h"
#include "modes/probegrid.h"
#include "toolpath/gcodeline.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {
// Cuts closer together than this along a move are one cut.
constexpr double sameCut = 1e-9;

QString number(float value)
{
    return QString::number(value, 'f', 6);
}

bool hasAxis(const GcodeLine &line)
{
    return line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z'));
}

// The spindle's state after the M words of a line, or `before` when they do not change it. (Read from
// the text: the line parser takes an S word for part of the M word before it.)
bool spindleAfter(const QString &text, bool before)
{
    static const QRegularExpression word(QStringLiteral("M\\s*0*(\\d+)"), QRegularExpression::CaseInsensitiveOption);
    bool on = before;
    for (auto match = word.globalMatch(text); match.hasNext();) {
        const int code = match.next().captured(1).toInt();
        if (code == 3 || code == 4)
            on = true;
        else if (code == 5 || code == 2 || code == 30)
            on = false;
    }
    return on;
}

// The text with the number of its X word replaced.
QString withX(const QString &text, float x)
{
    const int letter = text.indexOf(QLatin1Char('X'), 0, Qt::CaseInsensitive);
    if (letter < 0)
        return text;
    int end = letter + 1;
    while (end < text.size() && text.at(end).isSpace())
        ++end;
    while (end < text.size() && (text.at(end).isDigit() || text.at(end) == QLatin1Char('.')
                                 || text.at(end) == QLatin1Char('-') || text.at(end) == QLatin1Char('+')))
        ++end;
    return text.left(letter + 1) + number(x) + text.mid(end);
}
} // namespace

SurfaceFollower::SurfaceFollower(const ProbeGrid &grid, Sink sink, float xShift)
    : m_grid(grid)
    , m_sink(std::move(sink))
    , m_xShift(xShift)
{
}

void SurfaceFollower::rewrite(const GcodeLine &line, const QString &feedSuffix)
{
    const bool feedOrSpindle = line.has(QLatin1Char('F')) || line.has(QLatin1Char('M'));
    if (line.has(QLatin1Char('G'))) {
        const float g = line.value(QLatin1Char('G'));
        if (g == 1.0f) {
            writeFeedMove(target(line), feedSuffix);
            m_motion = Motion::Feed;
            return;
        }
        m_lastPoint = target(line);
        if (g == 0.0f)
            m_motion = Motion::None;
        if (g != 64.0f)
            writeOwnText(line);
        return;
    }
    if (m_motion == Motion::Feed && !feedOrSpindle && hasAxis(line)) {
        writeFeedMove(target(line), feedSuffix);
        return;
    }
    // A rapid continued without its G word still moves the tool; later moves start where it ended.
    if (hasAxis(line))
        m_lastPoint = target(line);
    writeOwnText(line);
}

QVector3D SurfaceFollower::target(const GcodeLine &line) const
{
    QVector3D to = m_lastPoint;
    if (line.has(QLatin1Char('X')))
        to.setX(line.value(QLatin1Char('X')) + m_xShift);
    if (line.has(QLatin1Char('Y')))
        to.setY(line.value(QLatin1Char('Y')));
    if (line.has(QLatin1Char('Z')))
        to.setZ(line.value(QLatin1Char('Z')));
    return to;
}

void SurfaceFollower::writeFeedMove(const QVector3D &to, const QString &feedSuffix)
{
    const QVector3D from = m_lastPoint;
    m_lastPoint = to;
    m_cuts.clear();
    m_grid.cellCrossings(from.x(), from.y(), to.x(), to.y(), &m_cuts);
    // A border at either end of the move cuts nothing off: the move's own end stays its last piece's end.
    m_cuts.erase(std::remove_if(m_cuts.begin(), m_cuts.end(), [](double cut) { return cut <= sameCut || cut >= 1.0 - sameCut; }),
                 m_cuts.end());
    std::sort(m_cuts.begin(), m_cuts.end());
    m_cuts.append(1.0);
    const double length = std::hypot(double(to.x()) - from.x(), double(to.y()) - from.y());
    double done = 0.0;
    for (const double cut : qAsConst(m_cuts)) {
        if (cut - done <= sameCut)
            continue;
        const int pieces = std::max(1, int(std::ceil(length * (cut - done) / longestPiece - sameCut)));
        for (int piece = 1; piece <= pieces; ++piece) {
            const bool last = cut == 1.0 && piece == pieces;
            const double along = done + (cut - done) * piece / pieces;
            writePiece(last ? to : from + (to - from) * float(along), feedSuffix);
        }
        done = cut;
    }
}

void SurfaceFollower::writePiece(const QVector3D &end, const QString &feedSuffix)
{
    if (!m_spindleOn) {
        m_sink(QString::fromLatin1(spindleStart));
        m_spindleOn = true;
    }
    m_sink(QStringLiteral("G1 X") + number(end.x()) + QStringLiteral(" Y") + number(end.y()) + QStringLiteral(" Z")
           + number(end.z() + m_grid.heightOffset(end.x(), end.y())) + feedSuffix + QLatin1Char('\n'));
}

void SurfaceFollower::writeOwnText(const GcodeLine &line)
{
    QString text = PcbProgram::machineText(line.text());
    if (text.isEmpty())
        return;
    if (line.has(QLatin1Char('M')))
        m_spindleOn = spindleAfter(text, m_spindleOn);
    if (m_xShift != 0.0f && line.has(QLatin1Char('X')))
        text = withX(text, line.value(QLatin1Char('X')) + m_xShift);
    m_sink(text + QLatin1Char('\n'));
}
