#include "calcd/stripunion.h"

#include "calcd/clipperunits.h"

#include <QVector>

#include <algorithm>
#include <cmath>
#include <limits>

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

namespace {

constexpr int strips = 16;
// Below this many polygons one sweep is cheap enough.
constexpr size_t fewPolygons = 1000;

struct Span
{
    cInt left = std::numeric_limits<cInt>::max();
    cInt bottom = std::numeric_limits<cInt>::max();
    cInt right = std::numeric_limits<cInt>::min();
    cInt top = std::numeric_limits<cInt>::min();

    explicit Span(const Path &path)
    {
        for (const IntPoint &p : path) {
            left = std::min(left, p.X);
            right = std::max(right, p.X);
            bottom = std::min(bottom, p.Y);
            top = std::max(top, p.Y);
        }
    }
    bool meets(const Span &other) const
    {
        return left <= other.right && other.left <= right && bottom <= other.top && other.bottom <= top;
    }
};

bool isConvex(const Path &polygon)
{
    bool left = false, right = false;
    for (size_t i = 0; i < polygon.size(); ++i) {
        const IntPoint &a = polygon[i], &b = polygon[(i + 1) % polygon.size()], &c = polygon[(i + 2) % polygon.size()];
        const double cross = double(b.X - a.X) * double(c.Y - b.Y) - double(b.Y - a.Y) * double(c.X - b.X);
        left = left || cross > 0;
        right = right || cross < 0;
    }
    return !(left && right);
}

// The part of a convex polygon between two vertical lines (Sutherland-Hodgman against each).
Path clippedToStrip(const Path &polygon, cInt left, cInt right)
{
    Path path = polygon;
    for (const bool keepRight : {true, false}) {
        const cInt edge = keepRight ? left : right;
        const auto inside = [&](const IntPoint &p) { return keepRight ? p.X >= edge : p.X <= edge; };
        Path out;
        for (size_t i = 0; i < path.size(); ++i) {
            const IntPoint &a = path[i], &b = path[(i + 1) % path.size()];
            if (inside(a))
                out.push_back(a);
            if (inside(a) != inside(b)) {
                const double t = double(edge - a.X) / double(b.X - a.X);
                out.push_back({edge, a.Y + static_cast<cInt>(std::llround(t * double(b.Y - a.Y)))});
            }
        }
        path = out;
    }
    return path;
}

class Strips
{
public:
    explicit Strips(const Paths &polygons)
    {
        cInt low = std::numeric_limits<cInt>::max(), high = std::numeric_limits<cInt>::min();
        for (const Path &path : polygons)
            for (const IntPoint &p : path) {
                low = std::min(low, p.X);
                high = std::max(high, p.X);
            }
        borders.resize(strips + 1);
        for (int i = 0; i <= strips; ++i)
            borders[i] = low + static_cast<cInt>(std::llround(double(high - low) * i / strips));
    }

    // Strip that holds x; a border belongs to the strip on its right.
    int of(cInt x) const
    {
        return std::clamp(int(std::upper_bound(borders.begin(), borders.end(), x) - borders.begin()) - 1, 0, strips - 1);
    }
    cInt left(int strip) const { return borders[strip]; }
    cInt right(int strip) const { return borders[strip + 1]; }
    // Whether a polygon of the strip keeps clear of the borders it shares with other strips.
    bool clearOfBorders(const Span &span, int strip) const
    {
        return (strip == 0 || span.left > left(strip)) && (strip == strips - 1 || span.right < right(strip));
    }

private:
    QVector<cInt> borders;
};

} // namespace

Paths StripUnion::unite(const Paths &single, const Paths &withHoles)
{
    if (single.size() < fewPolygons) {
        Paths all = single;
        all.insert(all.end(), withHoles.begin(), withHoles.end());
        return ClipperUnits::combine(all, {}, ClipperLib::ctUnion);
    }
    const Strips strip(single);
    QVector<Paths> parts(strips);
    // Polygons that cannot be cut into strips (cutting a concave one could join its parts along
    // the cut) join the final union whole.
    Paths whole = withHoles;
    for (const Path &path : single) {
        const Span span(path);
        const int first = strip.of(span.left), last = strip.of(span.right);
        if (first == last) {
            parts[first].push_back(path);
        } else if (!isConvex(path)) {
            whole.push_back(path);
        } else {
            for (int s = first; s <= last; ++s) {
                Path piece = clippedToStrip(path, strip.left(s), strip.right(s));
                if (piece.size() >= 3)
                    parts[s].push_back(std::move(piece));
            }
        }
    }
    QVector<Span> wholeSpans;
    for (const Path &path : whole)
        wholeSpans.append(Span(path));

    // What a strip's union leaves clear of its borders and of every whole polygon is final. A hole
    // that must be joined again lies in an outline that must be too, since the outline's span
    // holds the hole's; an outline joined again while a hole of it is kept comes back filled,
    // and the kept hole still lies in it.
    Paths joined = whole, kept;
    for (int s = 0; s < strips; ++s)
        for (Path &path : ClipperUnits::combine(parts[s], {}, ClipperLib::ctUnion)) {
            const Span span(path);
            const bool alone = strip.clearOfBorders(span, s)
                               && std::none_of(wholeSpans.begin(), wholeSpans.end(), [&](const Span &w) { return w.meets(span); });
            (alone ? kept : joined).push_back(std::move(path));
        }
    Paths united = ClipperUnits::combine(joined, {}, ClipperLib::ctUnion);
    united.insert(united.end(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
    return united;
}
