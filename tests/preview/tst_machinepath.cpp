#include <QtTest>

#include <Qt3DRender/QAttribute>
#include <Qt3DRender/QBuffer>

#include "preview/gcoderender.h"
#include "preview/machineinterpreter.h"
#include "preview/moveableobject.h"
#include "tests/preview/linesender.h"
#include "tests/preview/programfile.h"

using Ends = QVector<QVector3D>;

// The G-code mode's drawing read as the machine reads it, checked against where the simulated GRBL
// controller takes the tool; the executed part and the tool drawn over it; the drawing built on a
// worker from the program as the G-code mode holds it.
namespace {
// Where the drawing stands at the end of each line, in G-code coordinates.
Ends drawnLineEnds(const QStringList &program)
{
    MachineInterpreter interpreter;
    const PathVertices path = PathVertices::traced(*programOf(program), interpreter, std::atomic<bool>{false});
    const auto *xyz = reinterpret_cast<const float *>(path.bytes().constData());
    Ends ends;
    for (int line = 0; line < program.size(); ++line) {
        const int vertex = path.lineEnds().at(line) - 1;
        ends << QVector3D(xyz[3 * vertex], -xyz[3 * vertex + 2], xyz[3 * vertex + 1]);
    }
    return ends;
}

// The vertices of the path and of its executed part after each line, the one before the first to one
// past the last.
struct Drawing
{
    QVector<float> vertices;
    QVector<int> executed;
    bool operator==(const Drawing &other) const { return vertices == other.vertices && executed == other.executed; }
};

Drawing drawingOf(Gcoderenderhelper &path, int lines)
{
    Drawing drawing{path.geometries().first()->vertices(), {}};
    for (int line = -1; line <= lines + 1; ++line) {
        path.setExecutedLine(line);
        drawing.executed << path.executedPart()->vertexCount();
    }
    return drawing;
}

char *toString(const Drawing &drawing)
{
    QByteArray text = QByteArray::number(drawing.vertices.size() / 3) + " vertices, executed";
    for (const int count : drawing.executed)
        text += ' ' + QByteArray::number(count);
    return qstrdup(text.constData());
}

QByteArray describe(const QString &line, const QVector3D &drawn, const QVector3D &expected)
{
    return QStringLiteral("%1: drawn %2 %3 %4, expected %5 %6 %7").arg(line).arg(drawn.x()).arg(drawn.y()).arg(drawn.z())
        .arg(expected.x()).arg(expected.y()).arg(expected.z()).toLatin1();
}

} // namespace

class TestMachinePath : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
    void lineEnds_data();
    void lineEnds();
    void drawnEndsMatchTheSimulator_data();
    void drawnEndsMatchTheSimulator();
    void executedPartFollowsTheLines();
    void toolMarkerStandsOnThePath();
    void programDrawnOnAWorker();
    void onlyTheLatestProgramIsDrawn();
};

void TestMachinePath::lineEnds_data()
{
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<Ends>("expected");

    QTest::newRow("inches") << QStringList{"G20", "G0 X1 Y-2", "G21 X1"} << Ends{{0, 0, 0}, {25.4f, -50.8f, 0}, {1, -50.8f, 0}};
    QTest::newRow("relative, twice") << QStringList{"G91 G0 X1", "G0 X1", "G90 G0 X1"} << Ends{{1, 0, 0}, {2, 0, 0}, {1, 0, 0}};
    QTest::newRow("G92 and G53") << QStringList{"G0 X10 Y5", "G92 X0 Y0", "G0 X5", "G53 G0 X1", "G92.1", "G0 X5 Y0"}
                                 << Ends{{10, 5, 0}, {10, 5, 0}, {15, 5, 0}, {1, 5, 0}, {1, 5, 0}, {5, 0, 0}};
    QTest::newRow("G10 L20 and G55") << QStringList{"G0 X4", "G10 L20 P2 X0", "G55 G0 X1", "G54 G0 X1"}
                                     << Ends{{4, 0, 0}, {4, 0, 0}, {5, 0, 0}, {1, 0, 0}};
    // G18 half circle from X0 Z0 about X5: the far side of it is the end.
    QTest::newRow("G18 arc") << QStringList{"G18 G2 X10 I5 F100"} << Ends{{10, 0, 0}};
    // Machine refuses: feed motion without a feed rate, coordinates under G80, an unknown letter.
    QTest::newRow("refused lines") << QStringList{"G1 X5", "G80 X3", "G0 X2 E5", "G0 X1 S1000 (spindle glued on)"}
                                   << Ends{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {1, 0, 0}};
}

void TestMachinePath::lineEnds()
{
    QFETCH(QStringList, program);
    QFETCH(Ends, expected);
    const Ends drawn = drawnLineEnds(program);
    for (int line = 0; line < program.size(); ++line)
        QVERIFY2((drawn[line] - expected[line]).length() < 1e-4f, describe(program[line], drawn[line], expected[line]));
}

void TestMachinePath::drawnEndsMatchTheSimulator_data()
{
    QTest::addColumn<QStringList>("program");

    QTest::newRow("inch program") << QStringList{"G20 G90", "G0 X1.25 Y-0.5", "G1 Z-0.04 F10", "G2 X1.75 Y0 I0.5 J0",
                                                 "G3 X1.25 Y0.5 R0.5", "G1 X-0.3125 Y-0.875", "G21 G0 X10"};
    QTest::newRow("relative moves") << QStringList{"G91", "G0 X1", "G0 X1", "G1 Y-3.5 Z-0.2 F300", "G2 X4 Y0 I2 J0",
                                                   "G3 X-2 Y-2 R-2", "G90 G0 X0 Y0"};
    QTest::newRow("G92 offsets") << QStringList{"G0 X12 Y7 Z-3", "G92 X0 Y0 Z0", "G0 X5 Y-5", "G1 Z-1 F100",
                                                "G53 G0 Z-1", "G92 X100", "G0 X101", "G92.1", "G0 X3 Y3 Z0"};
    QTest::newRow("several G words") << QStringList{"G0 G90 X10", "G91 G0 X1", "G91 G0 X1", "G17 G90 G1 X0 Y5 F200",
                                                    "G20 G91 G1 X0.5", "G21 G90 G2 X0 Y5 I-6.35 J0"};
    QTest::newRow("arcs in G18 and G19") << QStringList{"G0 X10 Y10 Z-10", "G18 G2 X20 Z-10 I5 K0 F200",
                                                        "G3 X15 Y14 Z-5 R5", "G19 G2 Y20 Z-5 J3 K0",
                                                        "G3 Y10 Z-15 R-8", "G17 G2 X15 Y10 Z-12 I2.5 J0"};
    QTest::newRow("full circles") << QStringList{"G0 X10 Y10", "G2 X10 Y10 I5 J0 F300", "G3 X10 Y10 Z-2 I0 J-4"};
    QTest::newRow("CamBam, inches, negative") << QStringList{
        "( Made using CamBam - http://www.cambam.co.uk )", "G20 G90 G91.1 G40", "G64", "G0 Z0.125", "T1 M6", "S10000 M3",
        "G17", "G0 X-1.2344 Y-0.4375", "G1 F10.0 Z-0.0625", "G1 F30.0 X-0.5625 Y-0.4375",
        "G3 X-0.3125 Y-0.1875 I0.0 J0.25", "G1 Y0.3125", "G2 X-0.5625 Y0.5625 I-0.25 J0.0", "G1 X-1.2344",
        "G3 X-1.4844 Y0.3125 I0.0 J-0.25", "G1 Y-0.1875", "G0 Z0.125", "M5", "M30"};
}

// Arc chords aside, every line ends where the machine's parser has brought the tool, also after the
// lines it refuses (CamBam's G64 and M6).
void TestMachinePath::drawnEndsMatchTheSimulator()
{
    QFETCH(QStringList, program);
    LineSender sender;
    const auto simulator = startSimulator(0.0, &sender);
    QVERIFY(simulator);
    for (const QString &line : program)
        QVERIFY(!sender.send(line).isEmpty());
    const QVector<AnsweredLine> answered = simulator->answeredLines();
    QCOMPARE(answered.size(), program.size());
    const Ends drawn = drawnLineEnds(program);
    for (int line = 0; line < program.size(); ++line) {
        const Axes &p = answered[line].position;
        const QVector3D machine{float(p[0]), float(p[1]), float(p[2])};
        QVERIFY2((drawn[line] - machine).length() < 1e-3f,
                 describe(program[line] + QLatin1Char(' ') + answered[line].answer, drawn[line], machine));
    }
}

// The executed part after line n holds exactly the vertices a drawing of the first n lines has.
void TestMachinePath::executedPartFollowsTheLines()
{
    const QStringList program{"G0 X10", "", "G1 X20 F100", "G2 X30 I5", "(comment)", "", "G1 Y5", "M30"};
    Qt3DCore::QEntity root;
    Gcoderenderhelper drawing;
    Gcoderenderhelper prefix;
    drawing.setRoot(&root);
    prefix.setRoot(&root);
    drawing.setInterpretation(PathGeometry::Interpretation::Machine);
    prefix.setInterpretation(PathGeometry::Interpretation::Machine);
    drawing.build(program);
    const int total = drawing.geometries().first()->vertexCount();
    QCOMPARE(drawing.executedPart()->vertexCount(), 1);
    QCOMPARE(drawing.remainingPart()->vertexCount(), total);
    for (int line = -1; line <= program.size() + 1; ++line) {
        prefix.build(program.mid(0, qMax(0, line)));
        const int executed = prefix.geometries().first()->vertexCount();
        drawing.setExecutedLine(line);
        QCOMPARE(drawing.executedPart()->firstVertex(), 0);
        QCOMPARE(drawing.executedPart()->vertexCount(), executed);
        QCOMPARE(drawing.remainingPart()->firstVertex(), executed - 1);
        QCOMPARE(drawing.remainingPart()->vertexCount(), total - executed + 1);
    }
    QCOMPARE(drawing.executedPart()->geometry(), drawing.remainingPart()->geometry());
}

void TestMachinePath::toolMarkerStandsOnThePath()
{
    GcodeRender render;
    render.showGcodeMode();
    QVERIFY2(!render.toolMarker()->isEnabled(), "no position reported yet");
    render.setToolPosition(10, 20, -3);
    QVERIFY(render.toolMarker()->isEnabled());
    QCOMPARE(render.toolMarker()->tip(), QVector3D(10, 47, -20));
    // Drawn 50 mm up with the program, and dragged along with it.
    render.loadGcode({"G0 X10 Y20 Z-3"}, GcodeRender::GcodeTarget);
    render.gcodePath()->moveBy(QVector3D(5, 50, 0));
    QCOMPARE(render.toolMarker()->tip(), QVector3D(15, 47, -20));
    render.showPcbMode();
    QVERIFY(!render.toolMarker()->isEnabled());
    render.showStlMode();
    render.setToolPosition(0, 0, 0);
    QVERIFY(!render.toolMarker()->isEnabled());
}

// The program as its file holds it (comments, carriage returns, blanks) draws what its lines as the
// controller receives them draw through the list of lines; a line run before the drawing was ready
// shows once it is.
void TestMachinePath::programDrawnOnAWorker()
{
    const QStringList file{"G21 G90 (metric)\r", "", "G0 X10 Y5 ; to the start", "(a comment only)", "G1 Z-1 F100",
                           "  G2 X20 Y5 I5  ", "G91 G1 X-3 Y2", "G90", "G18 G3 X10 Z-3 R6", "M30"};
    const QStringList received{"G21 G90", "", "G0 X10 Y5", "", "G1 Z-1 F100",
                               "G2 X20 Y5 I5", "G91 G1 X-3 Y2", "G90", "G18 G3 X10 Z-3 R6", "M30"};
    Qt3DCore::QEntity root;
    Gcoderenderhelper lineRoad;
    lineRoad.setRoot(&root);
    lineRoad.setInterpretation(PathGeometry::Interpretation::Machine);
    lineRoad.build(received);

    GcodeRender render;
    render.showGcodeMode();
    QSignalSpy drawn(&render, &GcodeRender::programDrawn);
    render.loadProgram(programOf(file));
    QVERIFY(render.gcodePath()->entities().isEmpty());
    render.setExecutedLine(5);
    QVERIFY(drawn.wait());
    Gcoderenderhelper &programRoad = *render.gcodePath();
    QCOMPARE(programRoad.executedPart()->vertexCount(), lineRoad.geometries().first()->lineEnds().at(4));
    QVERIFY(programRoad.entities().first()->isEnabled());
    QCOMPARE(programRoad.translation(), QVector3D(0, 50, 0));
    QCOMPARE(drawingOf(programRoad, file.size()), drawingOf(lineRoad, received.size()));
}

// A load supersedes a build still running and clearing drops it; a drawing that arrives while another
// mode is shown waits hidden. The program is let go once drawn, the geometry once cleared.
void TestMachinePath::onlyTheLatestProgramIsDrawn()
{
    QStringList longer;
    for (int line = 0; line < 20000; ++line)
        longer << QStringLiteral("G1 X%1 Y%2 F900").arg(line % 100).arg(line / 100);
    GcodeRender render;
    render.showPcbMode();
    QSignalSpy drawn(&render, &GcodeRender::programDrawn);
    render.loadProgram(programOf(longer));
    std::shared_ptr<const GcodeProgram> latest = programOf({"G0 X5", "G1 Y5 F100"});
    render.loadProgram(latest);
    QVERIFY(drawn.wait());
    QVERIFY(!drawn.wait(300));
    QCOMPARE(drawn.size(), 1);
    QCOMPARE(render.gcodePath()->geometries().first()->vertices(), (QVector<float>{0, 0, 0, 5, 0, 0, 5, 0, -5}));
    QVERIFY(!render.gcodePath()->entities().first()->isEnabled());
    render.showGcodeMode();
    QVERIFY(render.gcodePath()->entities().first()->isEnabled());
    const std::weak_ptr<const GcodeProgram> program = latest;
    latest.reset();
    QVERIFY(program.expired());

    const QPointer<Qt3DRender::QBuffer> buffer = render.gcodePath()->geometries().first()->attributes().first()->buffer();
    render.clearProgram();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!buffer);
    QVERIFY(render.gcodePath()->entities().isEmpty());
    render.setExecutedLine(1);

    render.loadProgram(programOf(longer));
    render.clearProgram();
    QVERIFY(!drawn.wait(300));
    QVERIFY(render.gcodePath()->entities().isEmpty());
}

QTEST_MAIN(TestMachinePath)
#include "tst_machinepath.moc"
