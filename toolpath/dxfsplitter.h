#pragma once

#include "toolpath/gcodeline.h"

#include <polyclipping/clipper.hpp>

#include <QEventLoop>
#include <QStringList>
#include <QVector>

#include <atomic>

// Turns the server's trace of a DXF drawing (every closed figure once, introduced by its shape
// comment) into the program that mills it: the figures become one region in which nested figures are
// holes, the region is offset outward by the cutter radius (cutting out) or inward ring by ring
// (pocketing), and every ring is milled in depth passes. The constructor does the whole job on a pool
// thread while the window keeps running; then the program or the reason it was refused is read.
class DXFSplitter
{
public:
    enum Mode { Pocket = 0, Cut = 1 };

    // The largest coordinate accepted, in mm: far beyond any table, and well inside Clipper's range.
    static constexpr float maxCoordinate = 10000.0f;
    // The longest program generated; a pocket beyond it needs a larger cutter.
    static constexpr qint64 maxOutputLines = 4000000;
    // More passes than this would need a depth per pass too thin to tell apart from the next.
    static constexpr int maxPasses = 10000;

    DXFSplitter(const QStringList &inputLines, float feed, float speed, float totalDepth, float depthPerPass,
                float cutterDiameter, int mode);

    QStringList result() const { return output; }
    // Why no program was made; empty when the program was made.
    QString error() const { return refusal; }
    const QVector<ClipperLib::Path> &toolPaths() const { return paths; }

private:
    void run();
    QString inputError() const;
    void splitShapes();
    void addShape(const QVector<GcodeLine> &lines);
    void region(ClipperLib::PolyTree *area) const;
    void offsetOutward(const ClipperLib::PolyTree &area);
    void offsetInward(const ClipperLib::PolyTree &area);
    QVector<ClipperLib::Path> pocket(const ClipperLib::Paths &figure, std::atomic<qint64> *budget) const;
    ClipperLib::Paths offset(const ClipperLib::Paths &area, double distance) const;
    bool withinLimits(qint64 points) const;
    void refuseLength();
    void emitProgram();
    QStringList ringLines(const ClipperLib::Path &ring) const;
    QString point(const char *command, const ClipperLib::IntPoint &p) const;
    static QString number(float value);

    QStringList input;
    QVector<ClipperLib::Paths> shapes;
    QVector<GcodeLine> currentShapeLines;
    QVector<ClipperLib::Path> paths;
    QStringList output;
    float feed;
    float speed;
    float totalDepth;
    float depthPerPass;
    float cutterDiameter;
    int mode;
    const qint32 scale = 10000000;
    QString refusal;
    QEventLoop loop;
};
