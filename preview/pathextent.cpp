#include "preview/pathextent.h"

#include <algorithm>
#include <cfloat>

PathExtent PathExtent::empty()
{
    return {FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
}

void PathExtent::unite(const PathExtent &other)
{
    minX = std::min(minX, other.minX);
    minY = std::min(minY, other.minY);
    maxX = std::max(maxX, other.maxX);
    maxY = std::max(maxY, other.maxY);
}
