#pragma once

#include <array>

// A point or offset in X, Y and Z, in millimetres.
using Axes = std::array<double, 3>;
