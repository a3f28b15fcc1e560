#pragma once

#include <QVector>

#include <vector>

// The vertex count at the end of every line of a drawn path, in about 1.25 bytes a line: the full
// count before every 16th line and the vertices each line adds (one byte: a line adds at most an
// arc's 64 chords and its end point). Looking a line up adds at most 16 bytes.
class LineEndIndex
{
public:
    void reserve(int lines);
    void append(int vertexCount);
    int size() const { return int(m_added.size()); }
    // The vertex count once line `line` (0-based) was drawn.
    int at(int line) const;

private:
    static constexpr int Stride = 16;
    QVector<int> m_checkpoints;             // the count before lines 0, 16, 32 ...
    std::vector<quint8> m_added;
    int m_last = 0;
};
