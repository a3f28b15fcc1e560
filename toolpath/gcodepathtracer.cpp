#include "toolpath/gcodepathtracer.h"

#include "toolpath/gcodeline.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float fullTurn = 6.28318530717958647692f;
// An arc of a radius beyond any drawing (kilometres) is traced in no more chords than this; its
// points still show where it goes.
constexpr float maxChords = 100000.0f;

enum Motion { Rapid = 0, Line = 1, Clockwise = 2, CounterClockwise = 3 };

struct Centre
{
    float x, y, radius;
};

// A radius-form arc: the centre lies on the chord's perpendicular bisector, to the right of the chord
// for a clockwise arc and to the left for a counter-clockwise one; a negative R asks for the longer
// arc and puts it on the other side. A radius too short for the chord is taken as half the chord, as
// the nearest arc that exists.
Centre radiusFormCentre(float sx, float sy, float ex, float ey, float r, bool clockwise)
{
    const float dx = ex - sx, dy = ey - sy;
    const float chord = std::sqrt(dx * dx + dy * dy);
    const float radius = std::max(std::fabs(r), chord / 2.0f);
    const float rise = std::sqrt(std::max(0.0f, radius * radius - chord * chord / 4.0f));
    const float side = (clockwise ? -1.0f : 1.0f) * (r < 0.0f ? -1.0f : 1.0f);
    const float nx = chord > 0.0f ? -dy / chord : 0.0f, ny = chord > 0.0f ? dx / chord : 0.0f;
    return {(sx + ex) / 2.0f + side * rise * nx, (sy + ey) / 2.0f + side * rise * ny, radius};
}

} // namespace

void GcodePathTracer::trace(const GcodeLine &line)
{
    if (line.has(QLatin1Char('G'))) {
        const int g = static_cast<int>(line.value(QLatin1Char('G')));
        if (g >= Rapid && g <= CounterClockwise) {
            m_motion = g;
            move(g, line);
        }
        return;
    }
    if (line.has(QLatin1Char('F')) || line.has(QLatin1Char('M')))
        return;
    if (line.has(QLatin1Char('X')) || line.has(QLatin1Char('Y')) || line.has(QLatin1Char('Z')))
        move(m_motion, line);
}

void GcodePathTracer::move(int motion, const GcodeLine &line)
{
    switch (motion) {
    case Rapid:
        m_position = target(line);
        break;
    case Line:
        lineTo(target(line));
        break;
    case Clockwise:
    case CounterClockwise:
        arcTo(line, target(line), motion == Clockwise);
        break;
    default:
        break;
    }
}

GcodePathTracer::Point GcodePathTracer::target(const GcodeLine &line)
{
    const auto word = [&line](char letter, float programmed) {
        return line.has(QLatin1Char(letter)) ? line.value(QLatin1Char(letter)) : programmed;
    };
    m_programmed = {word('X', m_programmed.x), word('Y', m_programmed.y), word('Z', m_programmed.z)};
    return m_programmed;
}

void GcodePathTracer::lineTo(const Point &end)
{
    m_position = end;
    append(end);
}

void GcodePathTracer::arcTo(const GcodeLine &line, const Point &end, bool clockwise)
{
    const Point start = m_position;
    Centre c;
    if (line.has(QLatin1Char('R'))) {
        c = radiusFormCentre(start.x, start.y, end.x, end.y, line.value(QLatin1Char('R')), clockwise);
    } else {
        const float i = line.value(QLatin1Char('I')), j = line.value(QLatin1Char('J')), k = line.value(QLatin1Char('K'));
        c = {start.x + i, start.y + j, std::sqrt(i * i + j * j + k * k)};
    }
    const float ax = start.x - c.x, ay = start.y - c.y, bx = end.x - c.x, by = end.y - c.y;
    const float startAngle = std::atan2(ay, ax);
    float sweep = std::atan2(by, bx) - startAngle;
    if (clockwise && sweep > 0.0f)
        sweep -= fullTurn;
    if (!clockwise && sweep < 0.0f)
        sweep += fullTurn;
    // An offset-form arc that ends where it starts is a full circle, as the controller mills it.
    const bool fullCircle = !line.has(QLatin1Char('R')) && start.x == end.x && start.y == end.y && c.radius > 0.0f;
    if (fullCircle)
        sweep = clockwise ? -fullTurn : fullTurn;
    const int n = std::isfinite(sweep) && std::isfinite(c.radius) ? static_cast<int>(10.0f * std::fabs(sweep)) : 0;
    if (n > 0) {
        const float step = sweep / std::min(float(n) * (c.radius / 10.0f + 1.0f), maxChords);
        for (int k = 0; clockwise ? sweep <= float(k + 1) * step : float(k + 1) * step <= sweep; ++k) {
            const float angle = startAngle + float(k) * step;
            append({c.x + c.radius * std::cos(angle), c.y + c.radius * std::sin(angle), m_position.z});
        }
    }
    lineTo(end);
}

void GcodePathTracer::append(const Point &p)
{
    m_vertices << p.x << p.y << p.z;
}
