#include "preview/lineendindex.h"

#include <QtGlobal>

void LineEndIndex::reserve(int lines)
{
    m_checkpoints.reserve(lines / Stride + 1);
    m_added.reserve(size_t(lines));
}

void LineEndIndex::append(int vertexCount)
{
    if (m_added.size() % Stride == 0)
        m_checkpoints.append(m_last);
    m_added.push_back(quint8(qBound(0, vertexCount - m_last, 255)));
    m_last = vertexCount;
}

int LineEndIndex::at(int line) const
{
    int count = m_checkpoints.at(line / Stride);
    for (int i = line - line % Stride; i <= line; ++i)
        count += m_added[size_t(i)];
    return count;
}
