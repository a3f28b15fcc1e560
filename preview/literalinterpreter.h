#pragma once

#include "preview/toolpathinterpreter.h"

// Reads coordinates as they stand, for the drawings whose programs are written that way (PCB layers,
// STL/DXF jobs): only G0-G3 move, and only when they are the line's last G word; X, Y and Z are
// absolute millimetres; arcs lie in the XY plane and keep their start height until the end point; an
// arc that ends where it starts sweeps nothing.
class LiteralInterpreter : public ToolpathInterpreter
{
public:
    void interpret(const GcodeLine &line, ToolMotion::Sink &sink) override;

private:
    void move(const GcodeLine &line, ToolMotion::Sink &sink);
    void arc(const GcodeLine &line, ToolMotion &motion);
    void updatePosition(const GcodeLine &line);

    ToolMotion::Point m_position{};
    int m_motionMode = -1;          // none yet, 0-3 as G0-G3
};
