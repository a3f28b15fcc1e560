#include "calcd/stlmesh.h"

#include <QList>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int headerSize = 84;
constexpr int recordSize = 50;

bool finite(const StlMesh::Point &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z) && std::fabs(p.x) < 1e6
           && std::fabs(p.y) < 1e6 && std::fabs(p.z) < 1e6;
}

float littleEndianFloat(const char *bytes)
{
    const quint32 bits = qFromLittleEndian<quint32>(bytes);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

bool StlMesh::read(const QByteArray &bytes)
{
    faces.clear();
    const bool ok = readBinary(bytes) || readAscii(bytes);
    if (!ok)
        faces.clear();
    return ok && !faces.isEmpty();
}

bool StlMesh::readBinary(const QByteArray &bytes)
{
    if (bytes.size() < headerSize)
        return false;
    const quint32 count = qFromLittleEndian<quint32>(bytes.constData() + 80);
    if (static_cast<qint64>(count) * recordSize + headerSize != bytes.size())
        return false;
    faces.reserve(static_cast<int>(count));
    for (quint32 i = 0; i < count; ++i) {
        const char *record = bytes.constData() + headerSize + i * recordSize + 12;
        Triangle t;
        for (int v = 0; v < 3; ++v) {
            t[v] = {littleEndianFloat(record + 12 * v), littleEndianFloat(record + 12 * v + 4),
                    littleEndianFloat(record + 12 * v + 8)};
            if (!finite(t[v]))
                return false;
        }
        faces.append(t);
    }
    return true;
}

bool StlMesh::readAscii(const QByteArray &bytes)
{
    const QList<QByteArray> words = bytes.simplified().split(' ');
    if (words.isEmpty() || words.first().toLower() != "solid")
        return false;
    QVector<Point> vertices;
    for (int i = 0; i < words.size(); ++i) {
        if (words[i].toLower() != "vertex")
            continue;
        if (i + 3 >= words.size())
            return false;
        bool okX = false, okY = false, okZ = false;
        const Point p{words[i + 1].toDouble(&okX), words[i + 2].toDouble(&okY), words[i + 3].toDouble(&okZ)};
        if (!okX || !okY || !okZ || !finite(p))
            return false;
        vertices.append(p);
        i += 3;
    }
    if (vertices.size() % 3 != 0)
        return false;
    for (int i = 0; i < vertices.size(); i += 3)
        faces.append({vertices[i], vertices[i + 1], vertices[i + 2]});
    return true;
}

StlMesh::Point StlMesh::minimum() const
{
    Point low{std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
              std::numeric_limits<double>::max()};
    for (const Triangle &t : faces)
        for (const Point &p : t)
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    return low;
}

StlMesh::Point StlMesh::maximum() const
{
    Point high{std::numeric_limits<double>::lowest(), std::numeric_limits<double>::lowest(),
               std::numeric_limits<double>::lowest()};
    for (const Triangle &t : faces)
        for (const Point &p : t)
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    return high;
}

void StlMesh::placeTopAtZero()
{
    const Point low = minimum(), high = maximum();
    for (Triangle &t : faces)
        for (Point &p : t)
            p = {p.x - low.x, p.y - low.y, p.z - high.z};
}
