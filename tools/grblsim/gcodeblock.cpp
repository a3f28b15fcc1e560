#include "tools/grblsim/gcodeblock.h"

#include <algorithm>
#include <cmath>

namespace {
enum Status {
    Ok = 0, ExpectedCommandLetter = 1, BadNumberFormat = 2, NegativeValue = 4, InvalidJogCommand = 16,
    UnsupportedCommand = 20, ModalGroupViolation = 21, UndefinedFeedRate = 22, CommandValueNotInteger = 23,
    AxisCommandConflict = 24, WordRepeated = 25, NoAxisWords = 26, InvalidLineNumber = 27, ValueWordMissing = 28,
    UnsupportedCoordinateSystem = 29, G53InvalidMotionMode = 30, AxisWordsExist = 31, NoAxisWordsInPlane = 32, InvalidTarget = 33,
    ArcRadiusError = 34, NoOffsetsInPlane = 35, UnusedWords = 36, G43DynamicAxisError = 37, MaxValueExceeded = 38,
};

enum Word { WordF, WordI, WordJ, WordK, WordL, WordN, WordP, WordR, WordS, WordT, WordX, WordY, WordZ };
enum Group { NonModalGroup, MotionGroup, PlaneGroup, DistanceGroup, ArcDistanceGroup, FeedModeGroup, UnitsGroup,
             CutterCompGroup, ToolLengthGroup, CoordinateGroup, ControlGroup, FlowGroup, SpindleGroup, CoolantGroup };

constexpr float MaxLineNumber = 10000000.0f;
constexpr float MaxToolNumber = 255.0f;
constexpr int MaxIntDigits = 8;
constexpr double MmPerInch = 25.4;
constexpr int ZAxis = 2;

constexpr unsigned bit(int n) { return 1u << n; }

// The controller keeps the whole part of a command number or integer word in a byte.
quint8 lowByte(float value)
{
    return quint8(qint64(std::trunc(std::clamp(value, -1e9f, 1e9f))) & 0xff);
}

bool readFloat(const QString &line, int *pos, float *value)
{
    int i = *pos;
    bool negative = false;
    if (i < line.size() && (line[i] == QLatin1Char('-') || line[i] == QLatin1Char('+')))
        negative = line[i++] == QLatin1Char('-');
    quint32 digits = 0;
    int exponent = 0, count = 0;
    bool decimal = false;
    for (; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (++count <= MaxIntDigits) {
                exponent -= decimal ? 1 : 0;
                digits = digits * 10 + quint32(c.unicode() - '0');
            } else if (!decimal) {
                ++exponent;
            }
        } else if (c == QLatin1Char('.') && !decimal) {
            decimal = true;
        } else {
            break;
        }
    }
    if (count == 0)
        return false;
    float result = float(digits);
    if (result != 0.0f) {
        for (; exponent <= -2; exponent += 2)
            result *= 0.01f;
        if (exponent < 0)
            result *= 0.1f;
        for (; exponent > 0; --exponent)
            result *= 10.0f;
    }
    *value = negative ? -result : result;
    *pos = i;
    return true;
}

bool samePosition(const Axes &a, const Axes &b)
{
    return a == b;
}

// One run of the parser over a line: the bookkeeping that GRBL keeps in local variables.
class Parser
{
public:
    Parser(GcodeBlock &block, const GcodeState &state, const StoredCoordinates &stored)
        : b(block), s(state), stored(stored) {}

    int run(const QString &line);

private:
    int importWords(const QString &line, int pos);
    int importG(quint8 number, int mantissa);
    int importM(quint8 number, int mantissa);
    int importValue(char letter, float value);
    int checkFeed();
    int checkModes();
    int checkNonModal();
    int checkCoordinateData();
    int checkCoordinateOffset();
    void computeTarget();
    void storedPositionTarget();
    int checkMotion();
    int checkArc();
    int checkUnusedWords();
    int checkJog() const;
    bool hasWord(int word) const { return values & bit(word); }

    GcodeBlock &b;
    const GcodeState &s;
    const StoredCoordinates &stored;
    unsigned commands = 0;              // modal groups commanded
    unsigned values = 0;                // value words given
    unsigned axisWords = 0;
    unsigned offsetWords = 0;           // I, J, K
    float lineNumber = 0.0f;
    int l = 0;
    Axes words{};                       // X, Y, Z as written
};

// GRBL's order: import the words, then check feed, modes, non-modal commands, motion and unused
// words, each failing with the firmware's status code.
int Parser::run(const QString &line)
{
    b.modal = s.modal;
    if (b.jog) {
        b.modal.motion = GcodeState::Linear;
        b.modal.inverseTime = false;
    }
    if (const int status = importWords(line, b.jog ? 3 : 0))
        return status;
    if (axisWords && b.axisCommand == GcodeBlock::NoAxisCommand)
        b.axisCommand = GcodeBlock::MotionAxes;
    if (hasWord(WordN) && lineNumber > MaxLineNumber)
        return InvalidLineNumber;
    for (const auto check : {&Parser::checkFeed, &Parser::checkModes, &Parser::checkNonModal, &Parser::checkMotion,
                             &Parser::checkUnusedWords}) {
        if (const int status = (this->*check)())
            return status;
    }
    return b.jog ? checkJog() : Ok;
}

// Spindle speed, dwell, plane, units, tool length and the coordinate system of the block.
int Parser::checkModes()
{
    if (!hasWord(WordS))
        b.spindleSpeed = s.spindleSpeed;
    if (b.nonModal == GcodeBlock::Dwell) {
        if (!hasWord(WordP))
            return ValueWordMissing;
        values &= ~bit(WordP);
    }
    static const int planes[3][3] = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}};
    b.axis0 = planes[b.modal.plane][0];
    b.axis1 = planes[b.modal.plane][1];
    b.linearAxis = planes[b.modal.plane][2];
    for (int axis = 0; axis < 3; ++axis) {
        if (b.modal.inches && (axisWords & bit(axis)))
            words[axis] *= MmPerInch;
    }
    if (b.axisCommand == GcodeBlock::ToolLengthAxes && b.modal.dynamicToolLength && axisWords != bit(ZAxis))
        return G43DynamicAxisError;
    b.blockCoordinateSystem = s.coordinateSystem;
    if ((commands & bit(CoordinateGroup)) && s.modal.coordinateSystem != b.modal.coordinateSystem)
        b.blockCoordinateSystem = stored.systems[b.modal.coordinateSystem];
    return Ok;
}

int Parser::importWords(const QString &line, int pos)
{
    while (pos < line.size()) {
        const QChar letter = line[pos];
        if (letter < QLatin1Char('A') || letter > QLatin1Char('Z'))
            return ExpectedCommandLetter;
        ++pos;
        float value = 0.0f;
        if (!readFloat(line, &pos, &value))
            return BadNumberFormat;
        // The rest goes into hundredths, so G38.2 is 38 and 20.
        const quint8 number = lowByte(value);
        const int mantissa = int(std::lround(100.0f * (std::clamp(value, -1e9f, 1e9f) - float(number)))) & 0xffff;
        int status = Ok;
        if (letter == QLatin1Char('G'))
            status = importG(number, mantissa);
        else if (letter == QLatin1Char('M'))
            status = importM(number, mantissa);
        else
            status = importValue(letter.toLatin1(), value);
        if (status != Ok)
            return status;
    }
    return Ok;
}

int Parser::importG(quint8 number, int mantissa)
{
    int group = NonModalGroup;
    switch (number) {
    case 10: case 28: case 30: case 92:
        if (mantissa == 0) {
            if (b.axisCommand)
                return AxisCommandConflict;
            b.axisCommand = GcodeBlock::NonModalAxes;
        }
        Q_FALLTHROUGH();
    case 4: case 53:
        b.nonModal = number;
        if (number == 28 || number == 30 || number == 92) {
            if (mantissa != 0 && mantissa != 10)
                return UnsupportedCommand;
            b.nonModal += mantissa;
            mantissa = 0;
        }
        break;
    case 0: case 1: case 2: case 3: case 38:
        if (b.axisCommand)
            return AxisCommandConflict;
        b.axisCommand = GcodeBlock::MotionAxes;
        Q_FALLTHROUGH();
    case 80:
        group = MotionGroup;
        b.modal.motion = number * 10;
        if (number == 38) {
            if (mantissa != 20 && mantissa != 30 && mantissa != 40 && mantissa != 50)
                return UnsupportedCommand;
            b.modal.motion += mantissa / 10;
            mantissa = 0;
        }
        break;
    case 17: case 18: case 19:
        group = PlaneGroup;
        b.modal.plane = number - 17;
        break;
    case 90: case 91:
        if (mantissa == 0) {
            group = DistanceGroup;
            b.modal.incremental = number == 91;
        } else {
            group = ArcDistanceGroup;           // G91.1 is what GRBL always does anyway
            if (mantissa != 10 || number == 90)
                return UnsupportedCommand;
            mantissa = 0;
        }
        break;
    case 93: case 94:
        group = FeedModeGroup;
        b.modal.inverseTime = number == 93;
        break;
    case 20: case 21:
        group = UnitsGroup;
        b.modal.inches = number == 20;
        break;
    case 40:
        group = CutterCompGroup;
        break;
    case 43: case 49:
        group = ToolLengthGroup;
        if (b.axisCommand)
            return AxisCommandConflict;
        b.axisCommand = GcodeBlock::ToolLengthAxes;
        if (number == 49)
            b.modal.dynamicToolLength = false;
        else if (mantissa == 10)
            b.modal.dynamicToolLength = true;
        else
            return UnsupportedCommand;
        mantissa = 0;
        break;
    case 54: case 55: case 56: case 57: case 58: case 59:
        group = CoordinateGroup;
        b.modal.coordinateSystem = number - 54;
        break;
    case 61:
        group = ControlGroup;
        if (mantissa != 0)
            return UnsupportedCommand;
        break;
    default:
        return UnsupportedCommand;
    }
    if (mantissa > 0)
        return CommandValueNotInteger;
    if (commands & bit(group))
        return ModalGroupViolation;
    commands |= bit(group);
    return Ok;
}

// M7 (mist) is not built into this firmware, as its "[OPT:" line shows.
int Parser::importM(quint8 number, int mantissa)
{
    if (mantissa > 0)
        return CommandValueNotInteger;
    int group = FlowGroup;
    switch (number) {
    case 0: case 1: case 2: case 30:
        if (number != 1)
            b.modal.programFlow = number;
        break;
    case 3: case 4: case 5:
        group = SpindleGroup;
        b.modal.spindle = number;
        break;
    case 8: case 9:
        group = CoolantGroup;
        b.modal.flood = number == 8;
        break;
    default:
        return UnsupportedCommand;
    }
    if (commands & bit(group))
        return ModalGroupViolation;
    commands |= bit(group);
    return Ok;
}

int Parser::importValue(char letter, float value)
{
    int word = 0;
    switch (letter) {
    case 'F': word = WordF; b.feed = value; break;
    case 'I': case 'J': case 'K':
        word = WordI + (letter - 'I');
        b.offsets[letter - 'I'] = value;
        offsetWords |= bit(letter - 'I');
        break;
    case 'L': word = WordL; l = lowByte(value); break;
    case 'N': word = WordN; lineNumber = std::trunc(value); break;
    case 'P': word = WordP; b.p = value; break;
    case 'R': word = WordR; b.radius = value; break;
    case 'S': word = WordS; b.spindleSpeed = value; break;
    case 'T':
        word = WordT;
        if (value > MaxToolNumber)
            return MaxValueExceeded;
        b.tool = lowByte(value);
        break;
    case 'X': case 'Y': case 'Z':
        word = WordX + (letter - 'X');
        words[letter - 'X'] = value;
        axisWords |= bit(letter - 'X');
        break;
    default:
        return UnsupportedCommand;
    }
    if (hasWord(word))
        return WordRepeated;
    if ((word == WordF || word == WordN || word == WordP || word == WordT || word == WordS) && value < 0.0f)
        return NegativeValue;
    values |= bit(word);
    return Ok;
}

// Jogs always need their own F. In inverse time every motion line needs one (GRBL asks even for G0);
// in units per minute a missing F keeps the last one, unless the block just left inverse time.
int Parser::checkFeed()
{
    if (b.jog) {
        if (!hasWord(WordF))
            return UndefinedFeedRate;
        if (b.modal.inches)
            b.feed *= MmPerInch;
        return Ok;
    }
    if (b.modal.inverseTime) {
        if (b.axisCommand == GcodeBlock::MotionAxes && !hasWord(WordF))
            return UndefinedFeedRate;
    } else if (!s.modal.inverseTime) {
        if (!hasWord(WordF))
            b.feed = s.feed;
        else if (b.modal.inches)
            b.feed *= MmPerInch;
    }
    return Ok;
}

int Parser::checkNonModal()
{
    if (b.nonModal == GcodeBlock::SetCoordinateData)
        return checkCoordinateData();
    if (b.nonModal == GcodeBlock::SetCoordinateOffset)
        return checkCoordinateOffset();
    computeTarget();
    if (b.nonModal == GcodeBlock::GoHome0 || b.nonModal == GcodeBlock::GoHome1)
        storedPositionTarget();
    if (b.nonModal == GcodeBlock::AbsoluteOverride && b.modal.motion != GcodeState::Seek
        && b.modal.motion != GcodeState::Linear)
        return G53InvalidMotionMode;
    return Ok;
}

// G10 L2 sets a coordinate system to the values given, G10 L20 so that the tool stands at them.
// GRBL only complains when both P and L are missing; P0 is the active system.
int Parser::checkCoordinateData()
{
    if (!axisWords)
        return NoAxisWords;
    if (!hasWord(WordP) && !hasWord(WordL))
        return ValueWordMissing;
    const int select = int(std::min(b.p, 1e9));
    if (select > 6)
        return UnsupportedCoordinateSystem;
    if (l != 20 && (l != 2 || hasWord(WordR)))
        return UnsupportedCommand;
    values &= ~(bit(WordL) | bit(WordP));
    b.coordinateIndex = select > 0 ? select - 1 : b.modal.coordinateSystem;
    b.offsets = stored.systems[b.coordinateIndex];
    for (int axis = 0; axis < 3; ++axis) {
        if (!(axisWords & bit(axis)))
            continue;
        if (l == 2) {
            b.offsets[axis] = words[axis];
            continue;
        }
        b.offsets[axis] = s.position[axis] - s.coordinateOffset[axis] - words[axis];
        if (axis == ZAxis)
            b.offsets[axis] -= s.toolLengthOffset;
    }
    return Ok;
}

// G92: the offset that makes the current position read as the values given.
int Parser::checkCoordinateOffset()
{
    if (!axisWords)
        return NoAxisWords;
    for (int axis = 0; axis < 3; ++axis) {
        if (axisWords & bit(axis)) {
            b.target[axis] = s.position[axis] - b.blockCoordinateSystem[axis] - words[axis];
            if (axis == ZAxis)
                b.target[axis] -= s.toolLengthOffset;
        } else {
            b.target[axis] = s.coordinateOffset[axis];
        }
    }
    return Ok;
}

// Axes without a word stay where they are; the others are placed in the coordinate system and
// G92 offset, or added to the position in incremental mode, or taken as machine coordinates with G53.
void Parser::computeTarget()
{
    if (b.axisCommand == GcodeBlock::ToolLengthAxes) {
        b.target = words;
        return;
    }
    b.target = s.position;
    for (int axis = 0; axis < 3; ++axis) {
        if (!(axisWords & bit(axis)))
            continue;
        b.target[axis] = words[axis];
        if (b.nonModal == GcodeBlock::AbsoluteOverride)
            continue;
        if (b.modal.incremental) {
            b.target[axis] += s.position[axis];
        } else {
            b.target[axis] += b.blockCoordinateSystem[axis] + s.coordinateOffset[axis];
            if (axis == ZAxis)
                b.target[axis] += s.toolLengthOffset;
        }
    }
}

// G28/G30 go through the given point (if any) to the stored position, moving only the axes named.
void Parser::storedPositionTarget()
{
    b.offsets = b.nonModal == GcodeBlock::GoHome0 ? stored.g28 : stored.g30;
    if (!axisWords) {
        b.axisCommand = GcodeBlock::NoAxisCommand;
        return;
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (!(axisWords & bit(axis)))
            b.offsets[axis] = s.position[axis];
    }
}

int Parser::checkMotion()
{
    const int motion = b.modal.motion;
    if (motion == GcodeState::NoMotion)
        return axisWords ? AxisWordsExist : Ok;
    if (b.axisCommand != GcodeBlock::MotionAxes)
        return Ok;
    if (motion == GcodeState::Seek) {
        if (!axisWords)
            b.axisCommand = GcodeBlock::NoAxisCommand;
        return Ok;
    }
    if (b.feed == 0.0)
        return UndefinedFeedRate;
    if (motion == GcodeState::Linear) {
        if (!axisWords)
            b.axisCommand = GcodeBlock::NoAxisCommand;
        return Ok;
    }
    if (motion == GcodeState::CwArc || motion == GcodeState::CcwArc)
        return checkArc();
    b.probeNoError = motion == GcodeState::ProbeTowardNoError || motion == GcodeState::ProbeAwayNoError;
    b.probeAway = motion == GcodeState::ProbeAway || motion == GcodeState::ProbeAwayNoError;
    if (!axisWords)
        return NoAxisWords;
    if (samePosition(s.position, b.target))
        return InvalidTarget;
    return Ok;
}

// Radius form: the centre lies on the side the sign of R and the direction ask for. Centre form:
// start and end must lie on one circle within 0.005 mm, or 0.1 % of the radius up to 0.5 mm.
int Parser::checkArc()
{
    b.clockwise = b.modal.motion == GcodeState::CwArc;
    if (!(axisWords & (bit(b.axis0) | bit(b.axis1))))
        return NoAxisWordsInPlane;
    double x = b.target[b.axis0] - s.position[b.axis0];
    double y = b.target[b.axis1] - s.position[b.axis1];
    if (hasWord(WordR)) {
        values &= ~bit(WordR);
        if (samePosition(s.position, b.target))
            return InvalidTarget;
        if (b.modal.inches)
            b.radius *= MmPerInch;
        double h = 4.0 * b.radius * b.radius - x * x - y * y;
        if (h < 0)
            return ArcRadiusError;
        h = -std::sqrt(h) / std::hypot(x, y);
        if (!b.clockwise)
            h = -h;
        if (b.radius < 0) {
            h = -h;
            b.radius = -b.radius;
        }
        b.offsets = {};
        b.offsets[b.axis0] = 0.5 * (x - y * h);
        b.offsets[b.axis1] = 0.5 * (y + x * h);
        return Ok;
    }
    if (!(offsetWords & (bit(b.axis0) | bit(b.axis1))))
        return NoOffsetsInPlane;
    values &= ~(bit(WordI) | bit(WordJ) | bit(WordK));
    for (int axis = 0; axis < 3; ++axis) {
        if (b.modal.inches && (offsetWords & bit(axis)))
            b.offsets[axis] *= MmPerInch;
    }
    x -= b.offsets[b.axis0];
    y -= b.offsets[b.axis1];
    const double targetRadius = std::hypot(x, y);
    b.radius = std::hypot(b.offsets[b.axis0], b.offsets[b.axis1]);
    const double deltaR = std::fabs(targetRadius - b.radius);
    if (deltaR > 0.005 && (deltaR > 0.5 || deltaR > 0.001 * b.radius))
        return InvalidTarget;
    return Ok;
}

int Parser::checkUnusedWords()
{
    values &= ~(bit(WordN) | bit(WordF));
    if (!b.jog)
        values &= ~(bit(WordS) | bit(WordT));
    if (b.axisCommand)
        values &= ~(bit(WordX) | bit(WordY) | bit(WordZ));
    return values ? UnusedWords : Ok;
}

// Only distance and unit modes and G53 may come with a jog.
int Parser::checkJog() const
{
    if (commands & ~(bit(DistanceGroup) | bit(UnitsGroup) | bit(NonModalGroup)))
        return InvalidJogCommand;
    if (b.nonModal != GcodeBlock::AbsoluteOverride && b.nonModal != GcodeBlock::NoAction)
        return InvalidJogCommand;
    // GRBL itself would send a jog without axis words to machine zero; refusing it is the safer double.
    if (!axisWords)
        return NoAxisWords;
    return Ok;
}
}

bool GcodeBlock::readNumber(const QString &line, int *pos, float *value)
{
    return readFloat(line, pos, value);
}

int GcodeBlock::parse(const QString &line, const GcodeState &state, const StoredCoordinates &stored, bool jog)
{
    *this = GcodeBlock();
    this->jog = jog;
    return Parser(*this, state, stored).run(line);
}
