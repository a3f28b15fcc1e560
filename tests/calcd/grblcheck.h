#pragma once

#include <QPointF>
#include <QString>
#include <QStringList>
#include <QVector>

// What GRBL 1.1 reads of a line: address words with plain decimal numbers, comments in
// parentheses, and only the G and M codes it implements. Returns an empty text when the line is
// fine, else what is wrong.
QString grblProblem(const QString &line);

// Every problem of an answer: the GRBL rules, the length limit, and GcodeLine's reading.
QStringList answerProblems(const QString &answer);

// A cutting stretch of a program: consecutive feed moves below the surface, in mm.
struct Stretch
{
    QVector<QPointF> points;
    QVector<double> z;
};

// Follows the absolute moves of a program and collects its cutting stretches (G1, Z < 0).
QVector<Stretch> cuttingStretches(const QStringList &lines);
