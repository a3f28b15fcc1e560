#include "copperraster.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cmath>
#include <limits>

namespace {

// Squared distances along one line to the nearest zero of f (Felzenszwalb and Huttenlocher).
void distanceAlong(const QVector<float> &f, QVector<float> *d)
{
    const int n = f.size();
    QVector<int> v(n);
    QVector<float> z(n + 1);
    int k = 0;
    v[0] = 0;
    z[0] = -std::numeric_limits<float>::infinity();
    z[1] = std::numeric_limits<float>::infinity();
    for (int q = 1; q < n; ++q) {
        float s = 0;
        while (true) {
            s = ((f[q] + float(q) * q) - (f[v[k]] + float(v[k]) * v[k])) / (2.0f * q - 2.0f * v[k]);
            if (s > z[k] || k == 0)
                break;
            --k;
        }
        if (s <= z[k]) {
            v[k] = q;
            z[k + 1] = std::numeric_limits<float>::infinity();
            continue;
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = std::numeric_limits<float>::infinity();
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q)
            ++k;
        (*d)[q] = (float(q) - v[k]) * (float(q) - v[k]) + f[v[k]];
    }
}

} // namespace

CopperRaster::CopperRaster(const QString &gerberPath, const QRectF &windowMm, int dpi)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("layer.png"));
    const double inch = 25.4;
    QProcess gerbv;
    gerbv.start(QStringLiteral("gerbv"),
                {QStringLiteral("-x"), QStringLiteral("png"), QStringLiteral("-B"), QStringLiteral("0"),
                 QStringLiteral("--dpi=%1").arg(dpi),
                 QStringLiteral("--origin=%1x%2").arg(windowMm.left() / inch, 0, 'f', 6).arg(windowMm.top() / inch, 0, 'f', 6),
                 QStringLiteral("--window_inch=%1x%2").arg(windowMm.width() / inch, 0, 'f', 6).arg(windowMm.height() / inch, 0, 'f', 6),
                 QStringLiteral("-f"), QStringLiteral("#FFFFFFFF"), QStringLiteral("-b"), QStringLiteral("#000000"),
                 QStringLiteral("-o"), png, gerberPath});
    if (!gerbv.waitForFinished(300000))
        return;
    const QImage image(png);
    if (image.isNull())
        return;
    columns = image.width();
    rows = image.height();
    pixelMm = inch / dpi;
    origin = windowMm.topLeft();
    copper.resize(columns * rows);
    for (int y = 0; y < rows; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < columns; ++x)
            copper[index(x, y)] = qRed(line[x]) > 127 ? 1 : 0;
    }
}

QPointF CopperRaster::centre(int x, int y) const
{
    return origin + QPointF((x + 0.5) * pixelMm, (rows - y - 0.5) * pixelMm);
}

QVector<float> CopperRaster::copperDistance() const
{
    const float far = float(columns) * columns + float(rows) * rows;
    QVector<float> squared(columns * rows);
    for (int i = 0; i < squared.size(); ++i)
        squared[i] = copper[i] ? 0 : far;
    QVector<float> f(rows), d(rows);
    for (int x = 0; x < columns; ++x) {
        for (int y = 0; y < rows; ++y)
            f[y] = squared[index(x, y)];
        distanceAlong(f, &d);
        for (int y = 0; y < rows; ++y)
            squared[index(x, y)] = d[y];
    }
    f.resize(columns);
    d.resize(columns);
    for (int y = 0; y < rows; ++y) {
        std::copy(squared.begin() + index(0, y), squared.begin() + index(0, y) + columns, f.begin());
        distanceAlong(f, &d);
        for (int x = 0; x < columns; ++x)
            squared[index(x, y)] = std::sqrt(d[x]) * float(pixelMm);
    }
    return squared;
}
