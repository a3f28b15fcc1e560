#include "calcd/tourorder.h"

#include <QRectF>

#include <limits>
#include <numeric>
#include <random>

namespace {

constexpr int neighbourCount = 10;
// Or-opt moves stretches of up to this many places.
constexpr int longestStretch = 6;
// Paths of up to this many places are kicked out of their local optimum, in this many runs of
// this many kicks per place.
constexpr int kickedLimit = 150;
constexpr unsigned kickRuns = 3;
constexpr int kicksPerPlace = 3;
constexpr int offeredEntries = 32;

// Points bucketed in square cells, for nearest-point searches that widen ring by ring.
class PointGrid
{
public:
    explicit PointGrid(const QVector<QPointF> &points) : points(points)
    {
        QRectF box;
        for (const QPointF &p : points)
            box = box.united(QRectF(p, QSizeF(0, 0)));
        origin = box.topLeft();
        const double area = std::max(box.width() * box.height(), 1e-6);
        cell = std::max(std::sqrt(area / std::max<qsizetype>(1, points.size()) * 2), 1e-3);
        columns = std::clamp(static_cast<int>(box.width() / cell) + 1, 1, 2048);
        rows = std::clamp(static_cast<int>(box.height() / cell) + 1, 1, 2048);
        cell = std::max({cell, box.width() / columns, box.height() / rows}) * (1 + 1e-9);
        cells.resize(columns * rows);
        for (int i = 0; i < points.size(); ++i)
            cells[indexOf(points[i])].append(i);
    }

    // Visits the points ring by ring around p until visit says the nearest are known: visit
    // gets a point index and returns the distance beyond which no point interests it. Points
    // that are no longer alive are dropped from the grid on the way.
    template<typename Alive, typename Visit>
    void around(QPointF p, Alive alive, Visit visit)
    {
        const int cx = column(p.x()), cy = row(p.y());
        double wanted = std::numeric_limits<double>::max();
        const int maxRing = std::max(columns, rows);
        for (int ring = 0; ring <= maxRing; ++ring) {
            // Every point of a farther ring lies at least this far from p.
            const double nearestBeyond = (ring - 1) * cell + std::min({p.x() - origin.x() - cx * cell,
                                                                       (cx + 1) * cell - (p.x() - origin.x()),
                                                                       p.y() - origin.y() - cy * cell,
                                                                       (cy + 1) * cell - (p.y() - origin.y())});
            if (ring > 0 && nearestBeyond > wanted)
                return;
            for (int y = cy - ring; y <= cy + ring; ++y) {
                if (y < 0 || y >= rows)
                    continue;
                const bool edgeRow = y == cy - ring || y == cy + ring;
                for (int x = cx - ring; x <= cx + ring; x += edgeRow ? 1 : 2 * std::max(ring, 1)) {
                    if (x < 0 || x >= columns)
                        continue;
                    QVector<int> &bucket = cells[y * columns + x];
                    bucket.erase(std::remove_if(bucket.begin(), bucket.end(), [&](int i) { return !alive(i); }),
                                 bucket.end());
                    for (const int i : qAsConst(bucket))
                        wanted = visit(i);
                }
            }
        }
    }

private:
    int column(double x) const { return std::clamp(static_cast<int>((x - origin.x()) / cell), 0, columns - 1); }
    int row(double y) const { return std::clamp(static_cast<int>((y - origin.y()) / cell), 0, rows - 1); }
    int indexOf(QPointF p) const { return row(p.y()) * columns + column(p.x()); }

    const QVector<QPointF> &points;
    QPointF origin;
    double cell = 1;
    int columns = 1, rows = 1;
    QVector<QVector<int>> cells;
};

// An open path over fixed points, improved in place by 2-opt and Or-opt moves among each point's
// nearest neighbours. After a move only the points next to the changed edges are looked at again.
class PathImprover
{
public:
    PathImprover(const QVector<QPointF> &points, QVector<int> *path) : points(points), path(*path)
    {
        position.resize(points.size());
        isAwake.resize(points.size());
        PointGrid grid(points);
        neighbours.resize(points.size());
        for (int i = 0; i < points.size(); ++i)
            neighbours[i] = nearest(grid, i, neighbourCount);
    }

    void improve()
    {
        QVector<int> all(path.size());
        std::iota(all.begin(), all.end(), 0);
        improveAround(all);
    }

    // Improves until no move around the given points, or around points a move touched, shortens
    // the path.
    void improveAround(const QVector<int> &changed)
    {
        indexPositions();
        for (const int p : changed)
            wake(p);
        while (!awake.isEmpty()) {
            const int p = awake.takeLast();
            isAwake[p] = false;
            if (twoOptAt(position[p]) || orOptAt(position[p]))
                wake(p);
        }
    }

private:
    QVector<int> nearest(PointGrid &grid, int from, int count) const
    {
        QVector<QPair<double, int>> found;
        grid.around(points[from], [](int) { return true; }, [&](int i) {
            if (i != from) {
                found.append({TourOrder::distance(points[from], points[i]), i});
                std::sort(found.begin(), found.end());
                if (found.size() > count)
                    found.removeLast();
            }
            return found.size() < count ? std::numeric_limits<double>::max() : found.last().first;
        });
        QVector<int> out;
        for (const auto &f : found)
            out.append(f.second);
        return out;
    }

    void wake(int point)
    {
        if (!isAwake[point]) {
            isAwake[point] = true;
            awake.append(point);
        }
    }
    // Wakes the points at the path positions given, those that exist.
    void wakeAt(std::initializer_list<int> at)
    {
        for (const int i : at)
            if (i >= 0 && i < path.size())
                wake(path[i]);
    }

    void indexPositions()
    {
        for (int i = 0; i < path.size(); ++i)
            position[path[i]] = i;
    }

    double d(int a, int b) const { return TourOrder::distance(points.at(path.at(a)), points.at(path.at(b))); }
    // Cost of the edge between path positions a and b, nothing when either lies off the path.
    double edge(int a, int b) const { return a < 0 || b < 0 || a >= path.size() || b >= path.size() ? 0 : d(a, b); }

    // Reversing path[from..to] replaces the edges at both ends of the stretch.
    double reversalGain(int from, int to) const
    {
        return edge(from - 1, from) + edge(to, to + 1) - edge(from - 1, to) - edge(from, to + 1);
    }

    // Makes a neighbour of path[i] follow or precede it by reversing the stretch between them.
    // A move gains only if the new edge to the neighbour is shorter than an edge it replaces, and
    // the neighbours come nearest first.
    bool twoOptAt(int i)
    {
        const double longest = std::max(edge(i - 1, i), edge(i, i + 1));
        for (const int c : qAsConst(neighbours[path.at(i)])) {
            const int j = position[c];
            if (d(i, j) >= longest)
                return false;
            const int from = j > i ? i + 1 : j, to = j > i ? j : i - 1;
            if (from < to && reversalGain(from, to) > 1e-9) {
                wakeAt({from - 1, from, to, to + 1});
                std::reverse(path.begin() + from, path.begin() + to + 1);
                for (int k = from; k <= to; ++k)
                    position[path[k]] = k;
                return true;
            }
        }
        return false;
    }

    // Moves a stretch of points that begins or ends at position i.
    bool orOptAt(int i)
    {
        for (int length = 1; length <= longestStretch; ++length)
            for (const int from : {i, i - length + 1})
                if (from >= 0 && from + length <= path.size() && moveStretch(from, length))
                    return true;
        return false;
    }

    // Moves path[from..from+length) next to a neighbour of one of its ends, either way round.
    bool moveStretch(int from, int length)
    {
        const int to = from + length - 1;
        const double removed = edge(from - 1, from) + edge(to, to + 1) - edge(from - 1, to + 1);
        for (const int end : {from, to}) {
            for (const int c : qAsConst(neighbours[path.at(end)])) {
                const int k = position[c];
                if (d(end, k) >= removed)
                    break;
                if (k >= from - 1 && k <= to + 1)
                    continue;
                // Between k and its follower or between k's predecessor and k.
                const int next = k + 1, before = k - 1;
                const double after = next < path.size() ? -d(k, next) : 0;
                const double ahead = before >= 0 ? -d(before, k) : 0;
                const double costs[4] = {
                    d(k, from) + (next < path.size() ? d(to, next) : 0) + after,  // after k, in order
                    d(k, to) + (next < path.size() ? d(from, next) : 0) + after,  // after k, reversed
                    d(to, k) + (before >= 0 ? d(before, from) : 0) + ahead,       // before k, in order
                    d(from, k) + (before >= 0 ? d(before, to) : 0) + ahead};      // before k, reversed
                const int best = int(std::min_element(costs, costs + 4) - costs);
                if (removed - costs[best] > 1e-9) {
                    relocate(from, length, best < 2 ? next : k, best % 2 == 1);
                    return true;
                }
            }
        }
        return false;
    }

    // Moves path[from..from+length) to stand before position at, reversed if asked.
    void relocate(int from, int length, int at, bool reversed)
    {
        wakeAt({from - 1, from + length, at - 1, at});
        QVector<int> stretch = path.mid(from, length);
        if (reversed)
            std::reverse(stretch.begin(), stretch.end());
        path.remove(from, length);
        if (at > from)
            at -= length;
        for (int i = 0; i < length; ++i)
            path.insert(at + i, stretch[i]);
        for (const int p : qAsConst(stretch))
            wake(p);
        indexPositions();
    }

    const QVector<QPointF> &points;
    QVector<int> &path;
    QVector<int> position;
    QVector<QVector<int>> neighbours;
    QVector<int> awake;
    QVector<bool> isAwake;
};

// Nearest first over the entry points of the places not yet visited. A place with many entry
// points (a long loop) offers only some of them here; the best one is chosen afterwards.
QVector<TourOrder::Stop> nearestFirst(const QVector<QVector<QPointF>> &entries, QPointF start)
{
    QVector<QPointF> points;
    QVector<TourOrder::Stop> owners;
    for (int place = 0; place < entries.size(); ++place) {
        const int count = entries[place].size();
        for (int e = 0; e < count; e += std::max(1, count / offeredEntries)) {
            points.append(entries[place][e]);
            owners.append({place, e});
        }
    }
    PointGrid grid(points);
    QVector<TourOrder::Stop> stops;
    QVector<bool> visited(entries.size(), false);
    QPointF at = start;
    while (stops.size() < entries.size()) {
        int best = -1;
        double bestDistance = std::numeric_limits<double>::max();
        grid.around(at, [&](int i) { return !visited[owners[i].place]; }, [&](int i) {
            const double d = TourOrder::distance(at, points[i]);
            if (d < bestDistance) {
                bestDistance = d;
                best = i;
            }
            return bestDistance;
        });
        const TourOrder::Stop stop = owners[best];
        stops.append(stop);
        visited[stop.place] = true;
        at = points[best];
    }
    return stops;
}

QVector<QPointF> stopPoints(const QVector<QVector<QPointF>> &entries, const QVector<TourOrder::Stop> &stops)
{
    QVector<QPointF> points;
    points.reserve(stops.size());
    for (const TourOrder::Stop &s : stops)
        points.append(entries[s.place][s.entry]);
    return points;
}

void improve(const QVector<QVector<QPointF>> &entries, QVector<TourOrder::Stop> *stops)
{
    const QVector<QPointF> points = stopPoints(entries, *stops);
    QVector<int> path(stops->size());
    std::iota(path.begin(), path.end(), 0);
    PathImprover(points, &path).improve();
    QVector<TourOrder::Stop> reordered;
    for (const int i : path)
        reordered.append(stops->at(i));
    *stops = reordered;
}

// Enters each loop at the point that costs least between the stops before and after it.
bool chooseEntries(const QVector<QVector<QPointF>> &entries, QVector<TourOrder::Stop> *stops, QPointF start)
{
    bool changed = false;
    for (int k = 0; k < stops->size(); ++k) {
        const QPointF before = k > 0 ? entries[stops->at(k - 1).place][stops->at(k - 1).entry] : start;
        const bool last = k + 1 == stops->size();
        const QPointF after = last ? QPointF() : entries[stops->at(k + 1).place][stops->at(k + 1).entry];
        TourOrder::Stop &stop = (*stops)[k];
        const QVector<QPointF> &candidates = entries[stop.place];
        const auto cost = [&](int e) {
            return TourOrder::distance(before, candidates[e]) + (last ? 0 : TourOrder::distance(candidates[e], after));
        };
        for (int e = 0; e < candidates.size(); ++e)
            if (cost(e) < cost(stop.entry) - 1e-9) {
                stop.entry = e;
                changed = true;
            }
    }
    return changed;
}

double pathLength(const QVector<QPointF> &points, const QVector<int> &path)
{
    double sum = 0;
    for (int i = 1; i < path.size(); ++i)
        sum += TourOrder::distance(points[path[i - 1]], points[path[i]]);
    return sum;
}

// Local improvement stops in the first local optimum it reaches. For the few holes of one drill
// it pays to kick the path out of it (a double bridge: A B C D becomes A C B D, which 2-opt and
// Or-opt moves cannot undo in one step), improve again and keep the shorter path (iterated local
// search), in a few runs of their own. The kicks follow fixed sequences, so the same file always
// gets the same answer.
void kickAndImprove(const QVector<QPointF> &points, QVector<int> *best, unsigned seed)
{
    QVector<int> path = *best;
    PathImprover improver(points, &path);
    improver.improve();
    double shortest = pathLength(points, path);
    *best = path;
    std::minstd_rand kicks(seed);
    const int n = path.size();
    for (int round = 0; round < kicksPerPlace * n; ++round) {
        int cut[3];
        for (int &c : cut)
            c = 1 + int(kicks() % unsigned(n - 1));
        std::sort(cut, cut + 3);
        if (cut[0] == cut[1] || cut[1] == cut[2])
            continue;
        path = *best;
        const QVector<int> touched{path[cut[0] - 1], path[cut[0]], path[cut[1] - 1],
                                   path[cut[1]],     path[cut[2] - 1], path[cut[2]]};
        std::rotate(path.begin() + cut[0], path.begin() + cut[1], path.begin() + cut[2]);
        improver.improveAround(touched);
        const double length = pathLength(points, path);
        if (length < shortest - 1e-9) {
            shortest = length;
            *best = path;
        }
    }
}

QVector<int> kicked(const QVector<QPointF> &points, const QVector<int> &start)
{
    QVector<int> best;
    double shortest = std::numeric_limits<double>::max();
    for (unsigned run = 1; run <= kickRuns; ++run) {
        QVector<int> path = start;
        kickAndImprove(points, &path, run);
        const double length = pathLength(points, path);
        if (length < shortest - 1e-9) {
            shortest = length;
            best = path;
        }
    }
    return best;
}

} // namespace

QVector<TourOrder::Stop> TourOrder::order(const QVector<QVector<QPointF>> &entries, QPointF start)
{
    if (entries.isEmpty())
        return {};
    QVector<Stop> stops = nearestFirst(entries, start);
    improve(entries, &stops);
    for (int round = 0; round < 3 && chooseEntries(entries, &stops, start); ++round)
        improve(entries, &stops);
    // The improved path may run either way; start at the end nearer to the tool.
    if (distance(start, entries[stops.last().place][stops.last().entry])
        < distance(start, entries[stops.first().place][stops.first().entry]))
        std::reverse(stops.begin(), stops.end());
    return stops;
}

QVector<int> TourOrder::order(const QVector<QPointF> &points, QPointF start)
{
    QVector<QVector<QPointF>> entries;
    entries.reserve(points.size());
    for (const QPointF &p : points)
        entries.append({p});
    QVector<int> places;
    for (const Stop &stop : order(entries, start))
        places.append(stop.place);
    if (points.size() > kickedLimit || points.size() < 8)
        return places;
    places = kicked(points, places);
    if (distance(start, points[places.last()]) < distance(start, points[places.first()]))
        std::reverse(places.begin(), places.end());
    return places;
}

double TourOrder::length(const QVector<QPointF> &path)
{
    double sum = 0;
    for (int i = 1; i < path.size(); ++i)
        sum += distance(path[i - 1], path[i]);
    return sum;
}
