#include "toolpath/gcodeprogram.h"

#include "link/grblline.h"

#include <QFile>


namespace {
// A line is read at most this far without a line end, so a file that has none (a binary, a sparse
// file) is rejected after a few kilobytes instead of being read whole.
constexpr int LongestLineRead = 4096;
constexpr qint64 ChunkSize = 1 << 20;
// Far beyond any program a machine of this size runs; the bytes of a program are kept in one array.
constexpr qint64 LargestFile = qint64(1) << 30;

bool isContinuationByte(char byte)
{
    return (uchar(byte) & 0xC0) == 0x80;
}

QString shownLine(const char *begin, const char *end)
{
    return QString::fromUtf8(begin, int(end - begin)).remove(QLatin1Char('\r'));
}

QString tooLong(const char *begin, const char *end)
{
    return QStringLiteral("This line:") + shownLine(begin, end) + QStringLiteral(" is too long max 70 chars per line");
}
}

GcodeProgram GcodeProgram::read(const QString &path, QString *error)
{
    GcodeProgram program;
    QFile file(path);
    *error = file.open(QIODevice::ReadOnly) ? program.readFrom(file) : file.errorString();
    if (!error->isEmpty())
        return GcodeProgram();
    return program;
}

// Reads in large pieces and checks each line as its end arrives.
QString GcodeProgram::readFrom(QFile &file)
{
    if (file.size() <= LargestFile)
        m_text.reserve(int(file.size()));
    qint64 lineStart = 0;
    for (;;) {
        const QByteArray chunk = file.read(ChunkSize);
        if (chunk.isEmpty())
            break;
        m_text.append(chunk);
        const char *text = m_text.constData();
        for (qint64 end = m_text.size() - chunk.size(); end < m_text.size(); ++end) {
            if (text[end] != '\n')
                continue;
            const QString problem = checkLine(text + lineStart, text + end, lineCount() + 1);
            if (!problem.isEmpty())
                return problem;
            lineStart = end + 1;
            m_starts.push_back(quint32(lineStart));
        }
        if (m_text.size() - lineStart > LongestLineRead)
            return tooLong(m_text.constData() + lineStart, m_text.constData() + lineStart + LongestLineRead);
        if (m_text.size() > LargestFile)
            return QStringLiteral("This file is too large: a program may hold at most 1 GB");
    }
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    if (lineStart < m_text.size()) {
        const QString problem = checkLine(m_text.constData() + lineStart, m_text.constData() + m_text.size(), lineCount() + 1);
        if (!problem.isEmpty())
            return problem;
        m_starts.push_back(quint32(m_text.size() + 1));
    }
    m_text.squeeze();
    m_starts.shrink_to_fit();
    return QString();
}

// The length counts characters, carriage returns aside; what is left once the comments are gone must
// hold nothing the controller takes as a command.
QString GcodeProgram::checkLine(const char *begin, const char *end, qint64 number) const
{
    int characters = 0;
    for (const char *byte = begin; byte != end; ++byte)
        characters += (*byte != '\r' && !isContinuationByte(*byte)) ? 1 : 0;
    if (characters > MaxLineLength)
        return tooLong(begin, end);
    const QByteArray sendable = GrblLine::strippedBytes(begin, end);
    if (GrblLine::isSafe(sendable))
        return QString();
    const QString text = QString::fromUtf8(sendable);
    return QStringLiteral("Line %1 holds %2, which the controller takes as a command: %3")
        .arg(number)
        .arg(GrblLine::describeCharacter(text.at(GrblLine::unsafeCharacterAt(text))), shownLine(begin, end));
}

QByteArray GcodeProgram::lineBytes(qint64 index) const
{
    const char *text = m_text.constData();
    return GrblLine::strippedBytes(text + m_starts[size_t(index)], text + m_starts[size_t(index) + 1] - 1);
}
