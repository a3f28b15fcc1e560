#include "calcd/calculator.h"

#include "calcd/calcrequest.h"
#include "calcd/drillprogram.h"
#include "calcd/dxfprogram.h"
#include "calcd/isolationprogram.h"
#include "calcd/outlineprogram.h"
#include "calcd/stlprogram.h"

QByteArray Calculator::answer(const QByteArray &rawRequest, QString *problem) const
{
    CalcRequest request;
    if (request.parse(rawRequest) != CalcRequest::State::Complete) {
        *problem = QStringLiteral("malformed request");
        return {};
    }
    const QStringList lines = program(request, problem);
    for (const QString &line : lines)
        if (line.size() > maxLineLength) {
            *problem = QStringLiteral("answer line longer than %1 characters: %2").arg(maxLineLength).arg(line.left(80));
            return {};
        }
    if (lines.isEmpty() && problem->isEmpty())
        *problem = QStringLiteral("no result");
    if (!problem->isEmpty()) {
        static const char *const kinds[] = {"Layout", "Outline", "Drill", "BotLayout", "STL", "DXF"};
        *problem = QStringLiteral("%1 request: %2").arg(QLatin1String(kinds[request.kind]), *problem);
    }
    return lines.isEmpty() ? QByteArray() : (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

QStringList Calculator::program(const CalcRequest &request, QString *problem) const
{
    switch (request.kind) {
    case CalcRequest::Drill:
        return DrillProgram::build(request.text, request.boardValue, problem);
    case CalcRequest::Layout:
    case CalcRequest::BotLayout: {
        IsolationProgram::Cut cut;
        cut.toolWidth = options.engraveWidth;
        cut.depth = options.engraveDepth;
        cut.isolationWidth = std::max(options.isolationWidth, options.engraveWidth);
        return IsolationProgram::build(request.text, cut, request.kind == CalcRequest::BotLayout, problem);
    }
    case CalcRequest::Outline:
        return OutlineProgram::build(request.text, request.boardValue, options.tabs, problem);
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
