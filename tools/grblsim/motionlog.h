#pragma once

#include "tools/grblsim/simulatedmotion.h"

#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>

class QFile;

// A line as the controller finished it: its answer and where the parsed program had brought the
// tool by then (machine coordinates; the work position is position - workOffset).
struct AnsweredLine {
    QString line;                       // as received
    QString answer;                     // "ok" or "error:N"
    Axes position{};
    Axes workOffset{};
};

// What the simulated machine did, kept for tests (any thread may read it) and, when opened,
// written line by line to a file.
class MotionLog
{
public:
    MotionLog();
    ~MotionLog();

    bool open(const QString &path, QString *error);
    // Off: motions and answered lines go to the file only.
    void setKeepRecords(bool keep) { m_keepRecords = keep; }
    void addMotion(const SimulatedMotion &motion);
    void addLine(const AnsweredLine &line);

    QVector<SimulatedMotion> motions() const;
    QVector<AnsweredLine> lines() const;
    int cutsWithSpindleStopped() const;

private:
    void write(const QString &text);

    mutable QMutex m_mutex;
    QVector<SimulatedMotion> m_motions;
    QVector<AnsweredLine> m_lines;
    int m_cutsWithSpindleStopped = 0;
    bool m_keepRecords = true;
    std::unique_ptr<QFile> m_file;
};
