#include "calcd/calculator.h"

#include "calcd/calcrequest.h"
#include "calcd/drillprogram.h"
#include "calcd/dxfprogram.h"
#include "calcd/isolationprogram.h"
#include "calcd/outlineprogram.h"
#include "calcd/stlprogram.h"

QByteArray Calculator::answer(const QByteArray &rawRequest) const
{
    CalcRequest request;
    if (request.parse(rawRequest) != CalcRequest::State::Complete)
        return {};
    const QStringList lines = program(request);
    for (const QString &line : lines)
        if (line.size() > maxLineLength)
            return {};
    return lines.isEmpty() ? QByteArray() : (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QStringList Calculator::program(const CalcRequest &request) const
{
    switch (request.kind) {
    case CalcRequest::Drill:
        return DrillProgram::build(request.text, request.boardValue);
    case CalcRequest::Layout:
    case CalcRequest::BotLayout:
        return IsolationProgram::build(request.text, options.engraveWidth, options.engraveDepth,
                                       request.kind == CalcRequest::BotLayout);
    case CalcRequest::Outline:
        return OutlineProgram::build(request.text, request.boardValue, options.tabs);
    case CalcRequest::Dxf: {
        DxfProgram::Cut cut;
        cut.feed = request.numbers.at(0);
        cut.depthPerPass = request.numbers.at(2);
        cut.depth = request.numbers.at(3);
        cut.spindle = request.numbers.at(4);
        return DxfProgram::build(request.text, cut);
    }
    case CalcRequest::Stl: {
        StlProgram::Cut cut;
        cut.diameter = request.numbers.at(0);
        cut.depth = request.numbers.at(1);
        cut.feed = request.numbers.at(2);
        cut.depthPerPass = request.numbers.at(3);
        return StlProgram::build(request.rawBody.isEmpty() ? request.text.toUtf8() : request.rawBody, cut);
    }
    }
    return {};
}
