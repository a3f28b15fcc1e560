#include "copperraster.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace {

// Squared distances along one line to the nearest zero of f (Felzenszwalb and Huttenlocher), in
// exact integers: the intersections of the parabolas are compared in double precision, which
// holds the squares of any window gerbv draws.
void distanceAlong(const std::vector<qint64> &f, std::vector<qint64> *d)
{
    const int n = int(f.size());
    std::vector<int> v(n);
    std::vector<double> z(n + 1);
    const auto intersection = [&](int q, int p) {
        return double((f[q] + qint64(q) * q) - (f[p] + qint64(p) * p)) / (2.0 * (q - p));
    };
    int k = 0;
    v[0] = 0;
    z[0] = -std::numeric_limits<double>::infinity();
    z[1] = std::numeric_limits<double>::infinity();
    for (int q = 1; q < n; ++q) {
        double s = intersection(q, v[k]);
        while (s <= z[k]) {
            --k;
            s = intersection(q, v[k]);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = std::numeric_limits<double>::infinity();
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q)
            ++k;
        (*d)[q] = qint64(q - v[k]) * (q - v[k]) + f[v[k]];
    }
}

} // namespace

CopperRaster::CopperRaster(const QString &gerberPath, const QRectF &windowMm, int dpi)
{
    // gerbv's drawing of a macro in am-test near (220.4, 136.9) mm grows a bulge of 0.2 mm in windows
    // of 1.9 inches and more (at 1000 dpi), none in windows of 1.5 inches and less: the layer is
    // drawn in tiles of 1.5 inches.
    const int tile = 3 * dpi / 2;
    const double inch = 25.4;
    columns = int(std::ceil(windowMm.width() / inch * dpi));
    rows = int(std::ceil(windowMm.height() / inch * dpi));
    pixelMm = inch / dpi;
    origin = windowMm.topLeft();
    copper.resize(columns * rows);
    struct Tile
    {
        int left, top, width, height;
        QString png;
        std::unique_ptr<QProcess> gerbv;
    };
    QTemporaryDir dir;
    std::vector<Tile> tiles;
    for (int top = 0; top < rows; top += tile)
        for (int left = 0; left < columns; left += tile)
            tiles.push_back({left, top, std::min(tile, columns - left), std::min(tile, rows - top),
                             dir.filePath(QStringLiteral("tile%1.png").arg(tiles.size())), nullptr});
    const auto start = [&](Tile &t) {
        // gerbv's origin is the lower left corner, in inches; our rows run from the top.
        const double x = windowMm.left() / inch + double(t.left) / dpi;
        const double y = windowMm.top() / inch + double(rows - t.top - t.height) / dpi;
        t.gerbv = std::make_unique<QProcess>();
        t.gerbv->start(QStringLiteral("gerbv"),
                       {QStringLiteral("-x"), QStringLiteral("png"), QStringLiteral("-B"), QStringLiteral("0"),
                        QStringLiteral("--dpi=%1").arg(dpi), QStringLiteral("--origin=%1x%2").arg(x, 0, 'f', 6).arg(y, 0, 'f', 6),
                        QStringLiteral("--window=%1x%2").arg(t.width).arg(t.height), QStringLiteral("-f"),
                        QStringLiteral("#FFFFFFFF"), QStringLiteral("-b"), QStringLiteral("#000000"), QStringLiteral("-o"),
                        t.png, gerberPath});
    };
    const auto read = [&](Tile &t) {
        const QImage image = t.gerbv->waitForFinished(300000) ? QImage(t.png).convertToFormat(QImage::Format_RGB32) : QImage();
        if (image.width() != t.width || image.height() != t.height)
            return false;
        for (int y = 0; y < t.height; ++y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < t.width; ++x)
                copper[index(t.left + x, t.top + y)] = qRed(line[x]) > 127 ? 1 : 0;
        }
        return true;
    };
    // Two gerbv processes at a time, one a core.
    for (size_t i = 0; i < tiles.size(); i += 2) {
        const size_t pair = std::min<size_t>(2, tiles.size() - i);
        for (size_t k = 0; k < pair; ++k)
            start(tiles[i + k]);
        for (size_t k = 0; k < pair; ++k)
            if (!read(tiles[i + k])) {
                copper.clear();
                return;
            }
    }
}

QPointF CopperRaster::centre(int x, int y) const
{
    return origin + QPointF((x + 0.5) * pixelMm, (rows - y - 0.5) * pixelMm);
}

QVector<qint32> CopperRaster::squaredCopperDistance() const
{
    // Farther than any pixel of the window, and still an exact 32-bit integer.
    const qint64 far = qint64(columns) * columns + qint64(rows) * rows;
    Q_ASSERT(far < std::numeric_limits<qint32>::max());
    QVector<qint32> result(columns * rows);
    qint32 *squared = result.data();
    const quint8 *isCopper = copper.constData();
    std::vector<qint64> f(rows), d(rows);
    for (int x = 0; x < columns; ++x) {
        for (int y = 0; y < rows; ++y)
            f[y] = isCopper[index(x, y)] ? 0 : far;
        distanceAlong(f, &d);
        for (int y = 0; y < rows; ++y)
            squared[index(x, y)] = qint32(std::min(d[y], far));
    }
    f.resize(columns);
    d.resize(columns);
    for (int y = 0; y < rows; ++y) {
        std::copy(squared + index(0, y), squared + index(0, y) + columns, f.begin());
        distanceAlong(f, &d);
        for (int x = 0; x < columns; ++x)
            squared[index(x, y)] = qint32(std::min(d[x], far));
    }
    return result;
}
