#ifndef LOOPCHAINER_H
#define LOOPCHAINER_H

#include "calcd/contour.h"

// Joins loose pieces of a drawing (in any direction and order) into closed figures: pieces
// whose ends lie within the tolerance of each other are joined. Pieces that are closed already
// stay as they are; what cannot be closed is handed back separately.
class LoopChainer
{
public:
    static QVector<Contour> chain(QVector<Contour> pieces, double tolerance, QVector<Contour> *open = nullptr);
};

#endif
