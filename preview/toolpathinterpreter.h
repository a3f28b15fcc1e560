#pragma once

#include "preview/toolmotion.h"

class GcodeLine;

// Reads a program line by line and tells a sink the motions it asks for.
class ToolpathInterpreter
{
public:
    virtual ~ToolpathInterpreter() = default;
    virtual void interpret(const GcodeLine &line, ToolMotion::Sink &sink) = 0;
};
