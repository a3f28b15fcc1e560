#pragma once

#include "preview/pathgeometry.h"
#include "toolpath/gcodeline.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One layer of a PCB job as the calculation server answered it: its lines parsed, checked to be
// G-code the machine can take, and the extent of its feed moves.
class PcbProgram
{
public:
    // Programs beyond this are refused rather than held in memory and streamed for hours.
    static constexpr int mostLines = 1000000;
    // What a line may hold besides its comment; GRBL itself reads at most 80 characters.
    static constexpr int longestLine = 70;
    // Coordinates beyond this lie outside any machine the program drives.
    static constexpr float farthestCoordinate = 500.0f;

    PcbProgram() = default;

    // Parses the answer; a refused answer gives an empty program whose error() says why.
    static PcbProgram fromAnswer(const QString &answer);

    // The part of a line the controller gets: its text before a comment, trimmed. A line that is
    // all comment gives an empty text.
    static QString machineText(const QString &line);

    const QVector<GcodeLine> &lines() const { return m_lines; }
    // The answer's lines as they came, for the preview.
    QStringList texts() const { return m_texts; }
    bool isEmpty() const { return m_lines.isEmpty(); }
    PathGeometry::Extent extent() const { return m_extent; }
    QString error() const { return m_error; }
    // What the server reports about the answer (places it could not isolate, tools without a
    // diameter): the lines that are all comment, after the two header lines, tool changes left out.
    QStringList reports() const { return m_reports; }

private:
    bool readLine(const QString &text, int number);
    void measure();

    QVector<GcodeLine> m_lines;
    QStringList m_texts;
    PathGeometry::Extent m_extent = PathGeometry::Extent::empty();
    QString m_error;
    QStringList m_reports;
};
