#include "calcd/excellonfile.h"

#include "calcd/contour.h"
#include "calcd/gerberfile.h"

#include <QHash>
#include <QMap>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

enum class Units { Unknown, Inch, Mm };
enum class Zeros { Unknown, Leading, Trailing };

// A coordinate pair as written; an empty text means the axis was not given.
struct RawPair
{
    QString x, y;
    bool isEmpty() const { return x.isEmpty() && y.isEmpty(); }
};

// What one line of the body says.
struct Line
{
    int tool = -1;
    QVector<int> g;
    QVector<int> m;
    RawPair at, to;
    QString i, j, radius;
    int repeat = 0;
};

struct Header
{
    Units units = Units::Unknown;
    Zeros zeros = Zeros::Unknown;
    int integerDigits = 0;
    int decimals = 0;
    QMap<int, double> diameters;
};

struct Format
{
    double unit = GerberFile::mmPerInch;
    bool leftAligned = false;
    int integerDigits = 2;
    int decimals = 4;

    // NaN when the text is no number.
    double value(const QString &raw) const
    {
        if (raw.contains(QLatin1Char('.'))) {
            bool ok = false;
            const double v = raw.toDouble(&ok);
            return ok ? v * unit : std::numeric_limits<double>::quiet_NaN();
        }
        const bool negative = raw.startsWith(QLatin1Char('-'));
        const QString digits = raw.mid(raw.startsWith(QLatin1Char('-')) || raw.startsWith(QLatin1Char('+')) ? 1 : 0);
        bool ok = false;
        const qlonglong n = digits.toLongLong(&ok);
        if (!ok || digits.size() > 15)
            return std::numeric_limits<double>::quiet_NaN();
        const int shift = leftAligned ? digits.size() - integerDigits : decimals;
        const double v = n / std::pow(10.0, shift) * unit;
        return negative ? -v : v;
    }
};

class Reader
{
public:
    bool parse(const QString &text, QString *problem);
    QVector<ExcellonFile::Tool> tools(const Format &format, QString *problem) const;
    Format format() const;

private:
    void headerLine(const QString &line);
    void bodyLine(const QString &line);
    bool numbersLookLeftAligned() const;
    bool holesOverlap(const Format &format) const;

    Header header;
    QVector<Line> lines;
    bool inHeader = false;
    bool ended = false;
    int unreadable = 0;
};

const QRegularExpression &wordPattern()
{
    static const QRegularExpression pattern(QStringLiteral("([A-Z])([-+]?[0-9]*\\.?[0-9]*)"));
    return pattern;
}

bool isWords(const QString &line)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:[A-Z][-+]?[0-9]*\\.?[0-9]*)+$"));
    return pattern.match(line).hasMatch();
}

void readFormat(const QString &text, Header *header)
{
    static const QRegularExpression digits(QStringLiteral("FILE_FORMAT\\s*=\\s*(\\d)\\s*:\\s*(\\d)"));
    const QRegularExpressionMatch m = digits.match(text);
    if (m.hasMatch()) {
        header->integerDigits = m.captured(1).toInt();
        header->decimals = m.captured(2).toInt();
    }
}

bool Reader::parse(const QString &text, QString *problem)
{
    for (const QString &raw : text.split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed().toUpper();
        if (line.isEmpty() || ended)
            continue;
        if (line.startsWith(QLatin1Char(';'))) {
            readFormat(line, &header);
            continue;
        }
        if (line == QLatin1String("M48")) {
            inHeader = true;
            continue;
        }
        if (line == QLatin1String("%") || line == QLatin1String("M95")) {
            inHeader = false;
            continue;
        }
        if (line.startsWith(QLatin1String("INCH")) || line.startsWith(QLatin1String("METRIC")) || line.contains(QLatin1Char(','))
            || line.startsWith(QLatin1String("FILE_FORMAT"))) {
            headerLine(line);
            continue;
        }
        if (!isWords(line)) {
            ++unreadable;
            continue;
        }
        bodyLine(line);
    }
    if (lines.isEmpty()) {
        *problem = unreadable > 0 ? QStringLiteral("no Excellon drill file") : QStringLiteral("the drill file drills nothing");
        return false;
    }
    return true;
}

void Reader::headerLine(const QString &line)
{
    readFormat(line, &header);
    const QStringList parts = line.split(QLatin1Char(','));
    if (parts.first() == QLatin1String("INCH"))
        header.units = Units::Inch;
    else if (parts.first() == QLatin1String("METRIC"))
        header.units = Units::Mm;
    else if (line == QLatin1String("ICI,ON") || line == QLatin1String("ICI,OFF"))
        lines.append(Line{-1, {line.endsWith(QLatin1String("ON")) ? 91 : 90}, {}, {}, {}, {}, {}, {}, 0});
    for (const QString &part : parts.mid(1)) {
        if (part == QLatin1String("LZ"))
            header.zeros = Zeros::Leading;
        else if (part == QLatin1String("TZ"))
            header.zeros = Zeros::Trailing;
        else if (part.contains(QLatin1Char('.')) && part.count(QLatin1Char('0')) + 1 == part.size()) {
            header.integerDigits = part.indexOf(QLatin1Char('.'));
            header.decimals = part.size() - header.integerDigits - 1;
        }
    }
}

void Reader::bodyLine(const QString &text)
{
    Line line;
    RawPair *pair = &line.at;
    auto words = wordPattern().globalMatch(text);
    while (words.hasNext()) {
        const QRegularExpressionMatch word = words.next();
        const QChar letter = word.captured(1).at(0);
        const QString value = word.captured(2);
        switch (letter.unicode()) {
        case 'T':
            line.tool = value.toInt();
            break;
        case 'C':
            if (line.tool >= 0)
                header.diameters[line.tool] = value.toDouble();
            break;
        case 'G':
            line.g.append(value.toInt());
            if (value.toInt() == 85)
                pair = &line.to;
            break;
        case 'M':
            line.m.append(value.toInt());
            if (value.toInt() == 71)
                header.units = Units::Mm;
            else if (value.toInt() == 72)
                header.units = Units::Inch;
            break;
        case 'X':
            if (line.tool < 0)
                pair->x = value;
            break;
        case 'Y':
            if (line.tool < 0)
                pair->y = value;
            break;
        case 'I':
            line.i = value;
            break;
        case 'J':
            line.j = value;
            break;
        case 'A':
            line.radius = value;
            break;
        case 'R':
            line.repeat = value.toInt();
            break;
        default:
            break;
        }
    }
    if (line.m.contains(30) || line.m.contains(0))
        ended = true;
    // Tool definitions in the header only describe; in the body they also select.
    if (inHeader && line.tool >= 0)
        return;
    lines.append(line);
}

// Left-aligned files write leading zeros and drop trailing ones; right-aligned ones the reverse.
bool Reader::numbersLookLeftAligned() const
{
    int leading = 0, trailing = 0;
    const auto look = [&](const QString &raw) {
        QString digits = raw;
        digits.remove(QLatin1Char('-')).remove(QLatin1Char('+'));
        if (digits.size() < 2 || digits.contains(QLatin1Char('.')))
            return;
        leading += digits.startsWith(QLatin1Char('0')) ? 1 : 0;
        trailing += digits.endsWith(QLatin1Char('0')) ? 1 : 0;
    };
    for (const Line &line : lines)
        for (const RawPair *p : {&line.at, &line.to}) {
            look(p->x);
            look(p->y);
        }
    return leading > 0 && trailing == 0;
}

Format Reader::format() const
{
    Format format;
    double largest = 0;
    for (const double d : header.diameters)
        largest = std::max(largest, d);
    const bool mm = header.units == Units::Mm || (header.units == Units::Unknown && largest >= 0.3);
    format.unit = mm ? 1.0 : GerberFile::mmPerInch;
    format.leftAligned = header.zeros == Zeros::Leading || (header.zeros == Zeros::Unknown && numbersLookLeftAligned());
    format.integerDigits = header.integerDigits > 0 ? header.integerDigits : (mm ? 3 : 2);
    format.decimals = header.decimals > 0 ? header.decimals : (mm ? 3 : 4);
    if (!format.leftAligned && header.decimals == 0 && holesOverlap(format)) {
        Format fewer = format;
        fewer.decimals -= 1;
        if (!holesOverlap(fewer))
            return fewer;
    }
    return format;
}

// Whether two different holes of the file would cut into each other.
bool Reader::holesOverlap(const Format &format) const
{
    QString ignored;
    const QVector<ExcellonFile::Tool> all = tools(format, &ignored);
    double largest = 0;
    for (const ExcellonFile::Tool &tool : all)
        largest = std::max(largest, tool.diameter);
    if (largest <= 0)
        return false;
    QHash<QPair<qint64, qint64>, QVector<QPair<QPointF, double>>> cells;
    for (const ExcellonFile::Tool &tool : all)
        for (const QPointF &hole : tool.holes) {
            const qint64 cx = qint64(std::floor(hole.x() / largest)), cy = qint64(std::floor(hole.y() / largest));
            for (qint64 x = cx - 1; x <= cx + 1; ++x)
                for (qint64 y = cy - 1; y <= cy + 1; ++y)
                    for (const auto &other : cells.value({x, y})) {
                        const double d = std::hypot(hole.x() - other.first.x(), hole.y() - other.first.y());
                        if (d > 1e-9 && d < (tool.diameter + other.second) / 2)
                            return true;
                    }
            cells[{cx, cy}].append({hole, tool.diameter});
        }
    return false;
}

// Follows the body with the given number format.
class Walk
{
public:
    Walk(const Format &format, const QMap<int, double> &diameters) : format(format), diameters(diameters) {}
    void step(const Line &line);
    QVector<ExcellonFile::Tool> finish(QString *problem);

private:
    QPointF target(const RawPair &pair) const;
    ExcellonFile::Tool *current();
    void addHole(QPointF at);
    void endRoute();
    void move(const Line &line, QPointF to);

    const Format &format;
    const QMap<int, double> &diameters;
    QVector<ExcellonFile::Tool> tools;
    int tool = -1;
    QPointF position;
    QPointF zero;
    bool absolute = true;
    bool routing = false;
    bool down = false;
    int motion = 0;
    Contour route;
    int unreadableNumbers = 0;
};

QPointF Walk::target(const RawPair &pair) const
{
    const double x = pair.x.isEmpty() ? std::numeric_limits<double>::quiet_NaN() : format.value(pair.x);
    const double y = pair.y.isEmpty() ? std::numeric_limits<double>::quiet_NaN() : format.value(pair.y);
    const QPointF base = absolute ? zero : position;
    return QPointF(pair.x.isEmpty() ? position.x() : base.x() + x, pair.y.isEmpty() ? position.y() : base.y() + y);
}

ExcellonFile::Tool *Walk::current()
{
    for (ExcellonFile::Tool &t : tools)
        if (t.number == tool)
            return &t;
    ExcellonFile::Tool t;
    t.number = tool;
    t.diameter = diameters.value(tool, 0) * format.unit;
    tools.append(t);
    return &tools.last();
}

void Walk::addHole(QPointF at)
{
    current()->holes.append(at);
}

void Walk::endRoute()
{
    if (route.segments().size() > 0)
        current()->routes.append(route.points(0.005));
    route = Contour();
}

void Walk::move(const Line &line, QPointF to)
{
    if (!down || motion == 0) {
        position = to;
        return;
    }
    if (route.isEmpty())
        route.moveTo(position);
    if (motion == 1) {
        route.addLine(to);
    } else {
        QPointF centre;
        if (!line.i.isEmpty() || !line.j.isEmpty()) {
            centre = position + QPointF(line.i.isEmpty() ? 0 : format.value(line.i), line.j.isEmpty() ? 0 : format.value(line.j));
        } else {
            // The radius form: the centre on the side that makes the shorter arc.
            const double r = std::fabs(format.value(line.radius));
            const QPointF chord = to - position;
            const double half = std::hypot(chord.x(), chord.y()) / 2;
            const double rise = std::sqrt(std::max(0.0, r * r - half * half));
            const QPointF left = QPointF(-chord.y(), chord.x()) / std::max(2 * half, 1e-12);
            centre = (position + to) / 2 + left * (motion == 3 ? rise : -rise);
        }
        if (std::isfinite(centre.x()) && std::isfinite(centre.y()))
            route.addArc(centre, to, motion == 3);
        else
            route.addLine(to);
    }
    position = to;
}

void Walk::step(const Line &line)
{
    if (line.tool >= 0) {
        endRoute();
        tool = line.tool;
    }
    for (const int g : line.g) {
        if (g == 90 || g == 91)
            absolute = g == 90;
        else if (g == 5) {
            endRoute();
            routing = false;
        } else if (g >= 0 && g <= 3) {
            routing = true;
            motion = g;
        }
    }
    if (line.g.contains(93)) {
        zero = target(line.at);
        return;
    }
    for (const int m : line.m) {
        if (m == 15) {
            down = true;
            route = Contour();
        } else if (m == 16 || m == 17) {
            endRoute();
            down = false;
        }
    }
    if (line.at.isEmpty() || tool < 0)
        return;
    const QPointF at = target(line.at);
    if (!std::isfinite(at.x()) || !std::isfinite(at.y())) {
        ++unreadableNumbers;
        return;
    }
    if (line.g.contains(85) && !line.to.isEmpty()) {
        position = at;
        const QPointF end = target(line.to);
        current()->routes.append({at, end});
        position = end;
        return;
    }
    if (routing) {
        move(line, at);
        return;
    }
    if (line.repeat == 0) {
        position = at;
        addHole(at);
        return;
    }
    // Rn: n more holes, each the line's coordinates on from the one before.
    const QPointF step(line.at.x.isEmpty() ? 0 : format.value(line.at.x), line.at.y.isEmpty() ? 0 : format.value(line.at.y));
    for (int i = 0; i < std::min(line.repeat, 100000); ++i) {
        position += step;
        addHole(position);
    }
}

QVector<ExcellonFile::Tool> Walk::finish(QString *problem)
{
    endRoute();
    if (unreadableNumbers > 0)
        *problem = QStringLiteral("%1 coordinates could not be read").arg(unreadableNumbers);
    tools.erase(std::remove_if(tools.begin(), tools.end(),
                               [](const ExcellonFile::Tool &t) { return t.holes.isEmpty() && t.routes.isEmpty(); }),
                tools.end());
    return tools;
}

QVector<ExcellonFile::Tool> Reader::tools(const Format &format, QString *problem) const
{
    Walk walk(format, header.diameters);
    for (const Line &line : lines)
        walk.step(line);
    return walk.finish(problem);
}

} // namespace

bool ExcellonFile::read(const QString &text, QString *problem)
{
    Reader reader;
    if (!reader.parse(text, problem))
        return false;
    used = reader.tools(reader.format(), problem);
    if (used.isEmpty()) {
        *problem = QStringLiteral("the drill file drills nothing");
        return false;
    }
    return true;
}
