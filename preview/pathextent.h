#pragma once

// The area a tool path's feed moves cover, in G-code X and Y; empty (minima above maxima) when there
// are none.
struct PathExtent
{
    float minX, minY, maxX, maxY;

    static PathExtent empty();
    bool isEmpty() const { return minX > maxX || minY > maxY; }
    void unite(const PathExtent &other);
    void add(float x, float y) { unite({x, y, x, y}); }
};
