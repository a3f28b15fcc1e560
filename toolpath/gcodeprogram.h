#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// A G-code program as read from its file, kept once and compactly: the file's bytes and where each
// line starts. Lines are handed out as GRBL reads them (comments, carriage returns and the blanks at
// either end gone), made on demand, so a program of ten million lines costs its file's size and four
// bytes a line, however many consumers (the job, the preview, the time estimate) walk through it.
class GcodeProgram
{
public:
    static constexpr int MaxLineLength = 70;

    // Reads and checks a program file. On failure the program is empty and the error says why, in the
    // words the G-code mode shows under "File Error".
    static GcodeProgram read(const QString &path, QString *error);

    qint64 lineCount() const { return qint64(m_starts.size()) - 1; }
    bool isEmpty() const { return lineCount() <= 0; }
    // Line 0 is the file's first line. The text is plain ASCII, as it is sent to the controller.
    QByteArray lineBytes(qint64 index) const;
    QString line(qint64 index) const { return QString::fromLatin1(lineBytes(index)); }

private:
    QString readFrom(class QFile &file);
    QString checkLine(const char *begin, const char *end, qint64 number) const;

    QByteArray m_text;
    // Where each line starts in m_text, and one entry past the last line's end.
    std::vector<quint32> m_starts{0};
};
