#include "app/infodialog.h"
#include "link/checkdoormessage.h"
#include "modes/pcbchangemessagebox.h"
#include "tests/modes/pcbpage.h"
#include "tests/modes/scriptedgrbl.h"
#include "tools/calcsim/calcsimserver.h"

#include <QProgressBar>

namespace {
// Answers of the stand-in calculation server, in the server's form: header lines, the spindle and
// feed line, the moves. Feed move extents: top X 1..21 Y 2..12, bottom X 30..40 Y 4.
const QByteArray TopLayout = "(layout)\n(tool)\nG21 G90\nM3 S12000 F150\nG64\nG0 Z1\nG0 X1 Y2\nG1 Z-0.1 F200\n"
                             "G1 X21 Y2\nX21 Y12\nG0 Z1\nM5\n";
const QByteArray BottomLayout = "(layout, bottom side mirrored)\n(tool)\nG21 G90\nM3 S12000 F150\nG0 Z1\nG0 X30 Y4\n"
                                "G1 Z-0.1\nG1 X40 Y4\nG0 Z1\nM5\n";
const QByteArray DrillProgram = "(drilling)\n(2 mm deep)\nG21 G90\n(MSG, Change tool bit to drill size 0.8 mm)\nM5\nM0\n"
                                "M3 S12000 F60\nG0 Z2\nG0 X5 Y5\nG1 Z-2\nG0 Z2\n(MSG, Change tool bit to drill size 1 mm)\n"
                                "M5\nM0\nM3 S12000 F60\nG0 X15 Y10\nG1 Z-2\nG0 Z2\nM5\n";
const QByteArray Outline = "(outline)\n(cutter)\nG21 G90\nM3 S12000 F300\nG0 X0 Y0\nG1 Z-0.6\nG1 X22\nG1 Y14\nG1 X0\n"
                           "G1 Y0\nG0 Z2\nM5\n";

const QString EngravingBit = QStringLiteral("Change to engraving bit");
const QString OutlineCutter = QStringLiteral("Change to 2mm outline milling cutter");

QVector3D feedEnd(const QString &line)
{
    const GcodeLine parsed(line);
    return QVector3D(parsed.value(QLatin1Char('X')), parsed.value(QLatin1Char('Y')), parsed.value(QLatin1Char('Z')));
}

// The lines from the first one equal to `from`, `count` of them.
QStringList slice(const QStringList &lines, const QString &from, int count, int occurrence = 0)
{
    int at = -1;
    for (int i = 0; i <= occurrence; ++i)
        at = lines.indexOf(from, at + 1);
    return at < 0 ? QStringList() : lines.mid(at, count);
}

// A new tool's length on the table's probe, where it is set once the tool has slowly left the probe
// again; a flat surface at machine Z -20 gives it the offset 0. Then the first grid point (the lower
// left corner of all layers) gets its design coordinates.
QStringList reReference(const QString &x, const QString &y)
{
    return {"G38.2 Z-65 F100", "G38.4 Z0 F5", "G92  Z0", "G0 Z40", "G0 X" + x + " Y" + y, "G92  X" + x + " Y" + y};
}
} // namespace

class TstModePcb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(server.listen()); }
    void init() { CheckDoorMessage::setDoorOpen(false); }
    void answersAndRemoval_data();
    void answersAndRemoval();
    void topLayoutOnly();
    void topDrillAndOutline();
    void bothSides();
    void measuredSurfaceShown();
    void drillChangeOnLastLine();
    void openDoorDelaysStart();
    void probeAnswerWithoutHeight_data();
    void probeAnswerWithoutHeight();
    void probeThatMisses();
    void connectionLostDuringProbing();
    void toolChangePrompt_data();
    void toolChangePrompt();

private:
    // A page connected to the simulated controller, the server answering the given layers in order.
    std::unique_ptr<PcbPage> startPage(const QList<QPair<PcbJob::Layer, QByteArray>> &layers,
                                       const GrblSimulator::Options &options = GrblSimulator::Options());

    CalcSimServer server;
};

std::unique_ptr<PcbPage> TstModePcb::startPage(const QList<QPair<PcbJob::Layer, QByteArray>> &layers,
                                               const GrblSimulator::Options &options)
{
    auto page = std::make_unique<PcbPage>(server.serverPort());
    if (!page->connectToSimulator(options))
        return nullptr;
    for (const auto &layer : layers) {
        CalcSimRule rule;
        rule.answer = layer.second;
        server.pushRule(rule);
        if (!page->load(layer.first, page->main.writeFile("design", QStringLiteral("layer%1.gbr").arg(layer.first))))
            return nullptr;
    }
    return page;
}

void TstModePcb::answersAndRemoval_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("info");
    QByteArray enormous;
    for (int i = 0; i <= PcbProgram::mostLines; ++i)
        enormous += "G0 X1\n";
    const QString noResult = QStringLiteral("No results, try uploading a different design.");
    QTest::newRow("result") << TopLayout << "Done." << "rgb(78, 244, 66)" << QString();
    QTest::newRow("result with a report") << QByteArray(TopLayout).replace("G64\n", "(Not isolated at X12.345 Y6.7)\n")
                                          << "Done." << "rgb(78, 244, 66)"
                                          << "Top layout:\n(Not isolated at X12.345 Y6.7)\n";
    QTest::newRow("empty") << QByteArray() << noResult << "red" << QString();
    QTest::newRow("garbage") << QByteArray("G0 X1\n\x01\xfe garbage \x84\n") << noResult << "red"
                             << "Top layout: Line 2 is no G-code the machine can take";
    QTest::newRow("unreachable") << QByteArray("G0 X1\nG1 X1e9 Y2\n") << noResult << "red" << "Top layout: Line 2";
    QTest::newRow("enormous") << enormous << noResult << "red"
                              << "Top layout: The answer has 1000001 lines, more than the 1000000 a job may have.";
}

// Each answer is shown with its label and bar colour; a result is drawn, anything else is not
// milled and play is refused. Removing the file brings the layer back to its first state.
void TstModePcb::answersAndRemoval()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, label);
    QFETCH(QString, style);
    QFETCH(QString, info);
    InfoDialog::instance()->on_pushButton_clicked();
    auto page = startPage({{PcbJob::Top, answer}});
    QVERIFY(page);
    Mode_PCB *mode = page->mode();
    auto *button = mode->findChild<QPushButton *>(QStringLiteral("button_top_layout"));
    auto *bar = mode->findChild<QProgressBar *>(QStringLiteral("progressBar_Top"));
    auto *frame = mode->findChild<QWidget *>(QStringLiteral("QW_TopLayout"));
    QCOMPARE(button->text(), QStringLiteral("Top: layer0.gbr"));
    QCOMPARE(page->label(PcbJob::Top), label);
    QVERIFY(bar->styleSheet().contains(style));
    const bool result = label == QLatin1String("Done.");
    QCOMPARE(frame->styleSheet(), result ? QStringLiteral("background-color: rgb(255, 255, 255);")
                                         : QStringLiteral("background-color: rgb(253, 151, 38);"));
    QVERIFY2(InfoDialog::instance()->text().startsWith(info), qPrintable(InfoDialog::instance()->text()));
    const Gcoderenderhelper &drawing = page->main.page()->render()->pcbLayers()->topLayout();
    QCOMPARE(drawing.lines().isEmpty(), !result);
    if (!result) {
        page->main.click("button_play_pause");
        QCOMPARE(page->main.boxes.texts, QStringList{QStringLiteral("info/First select a file")});
        QVERIFY(!mode->isStarted());
    }

    QTest::mouseClick(mode->findChild<QPushButton *>(QStringLiteral("remove_layout_button")), Qt::LeftButton);
    QCOMPARE(button->text(), QStringLiteral("PCB TOP LAYOUT "));
    QVERIFY(page->label(PcbJob::Top).isEmpty());
    QVERIFY(bar->styleSheet().contains(QStringLiteral("rgb(113, 113, 113)")));
    QVERIFY(drawing.lines().isEmpty());
    QVERIFY(mode->layer(PcbJob::Top).isEmpty());
    QTest::qWait(50);
    QVERIFY(page->lines().isEmpty());
    InfoDialog::instance()->on_pushButton_clicked();
}

// Engraving-bit prompt, pause, tool length, surface probing, then the top engraving only, its
// feed moves cut at the grid's cell borders and into pieces of at most 5 mm.
void TstModePcb::topLayoutOnly()
{
    auto page = startPage({{PcbJob::Top, TopLayout}});
    QVERIFY(page);
    QVERIFY(page->run(60000));
    const QStringList lines = page->lines();
    QCOMPARE(page->prompts, (QList<PcbPage::Prompt>{{EngravingBit, 0}}));
    QCOMPARE(lines.mid(0, 3), (QStringList{"", "", "M0"}));
    QCOMPARE(lines.mid(3, 17), (QStringList{"M5", "G21", "G90", "G92.1", "M5", "G0 Z0", "G0 X173.000000 Y112.500000",
                                            "M5", "G38.2 Z-65 F100", "G0  Z0", "M5", "G21", "G90", "G92.1",
                                            "G0 X1.000000 Y2.000000", "G92 X1.000000 Y2.000000", "G38.2 Z-62.0 F100"}));
    // 20 mm by 10 mm: 4 columns of 3 points.
    QCOMPARE(lines.count(QStringLiteral("G38.2 Z-4.0 F100")), 11);
    const QStringList engraving = lines.mid(lines.indexOf(QStringLiteral("G0 Z10")) + 1);
    QCOMPARE(engraving.mid(0, 13), (QStringList{"M5", "G21", "G90", "G92.1", "G0 Z0", "G92  Z20.000000",
                                                "G0 X1.000000 Y2.000000", "G92  X1.000000 Y2.000000", "G21 G90",
                                                "M3 S12000 F150", "G0 Z1", "G0 X1 Y2",
                                                "G1 X1.000000 Y2.000000 Z-0.100000"}));
    // X1 to X21 crosses the borders at X 7.670 and 14.341: two pieces per cell; Y2 to Y12 crosses
    // Y 7.006: two pieces, then one.
    const QStringList pieces = engraving.mid(13, 9);
    QCOMPARE(pieces.filter(QRegularExpression(QStringLiteral("^G1 X[0-9.]+ Y2.000000 Z-0.100000$"))).size(), 6);
    QCOMPARE(pieces.filter(QRegularExpression(QStringLiteral("^G1 X21.000000 Y[0-9.]+ Z-0.100000$"))).size(), 4);
    float previous = 1.0f;
    for (const QString &piece : pieces.mid(0, 6)) {
        QVERIFY(feedEnd(piece).x() - previous <= 5.0f);
        previous = feedEnd(piece).x();
    }
    QCOMPARE(pieces.filter(QStringLiteral("X7.670")).size() + pieces.filter(QStringLiteral("X14.340")).size(), 2);
    QCOMPARE(engraving.mid(22), (QStringList{"G0 Z1", "M5"}));
    QVERIFY(!lines.contains(QStringLiteral("G64")));
    QCOMPARE(page->progress.value(0), QStringLiteral("0%"));
    QVERIFY(page->mode()->isPaused());
    QCOMPARE(page->main.button("button_play_pause")->text(), QStringLiteral("play"));
}

// Top engraving, drilling with a prompt and a new tool length per tool, then the outline cutter.
void TstModePcb::topDrillAndOutline()
{
    auto page = startPage({{PcbJob::Top, TopLayout}, {PcbJob::Drill, DrillProgram}, {PcbJob::Outline, Outline}});
    QVERIFY(page);
    QVERIFY(page->run(60000));
    const QStringList lines = page->lines();
    QCOMPARE(page->prompts, (QList<PcbPage::Prompt>{{EngravingBit, 0},
                                                    {"(MSG, Change tool bit to drill size 0.8 mm)", 2},
                                                    {"(MSG, Change tool bit to drill size 1 mm)", 2},
                                                    {OutlineCutter, 1}}));
    QCOMPARE(lines.count(QStringLiteral("M0")), 4);
    QCOMPARE(lines.count(QStringLiteral("G38.2 Z-65 F100")), 4);
    for (int change = 1; change <= 3; ++change)
        QCOMPARE(slice(lines, QStringLiteral("G38.2 Z-65 F100"), 6, change), reReference("0.000000", "0.000000"));
    const int lastEngraving = lines.indexOf(QStringLiteral("G1 X21.000000 Y12.000000 Z-0.100000"));
    const int firstHole = lines.indexOf(QStringLiteral("G1 X5.000000 Y5.000000 Z-2.000000 F300.000000"));
    const int secondHole = lines.indexOf(QStringLiteral("G1 X15.000000 Y10.000000 Z-2.000000 F300.000000"));
    const int outline = lines.indexOf(QStringLiteral("G1 X0.000000 Y0.000000 Z-0.600000 F300.000000"));
    QVERIFY(lastEngraving > 0 && lastEngraving < firstHole && firstHole < secondHole && secondHole < outline);
    QVERIFY(lines.mid(outline).contains(QStringLiteral("G1 X22.000000 Y14.000000 Z-0.600000 F300.000000")));
    // The drill program's own pauses are left out; its spindle line starts the new tool.
    QCOMPARE(lines.mid(firstHole - 4, 4), (QStringList{"G92  X0.000000 Y0.000000", "M3 S12000 F60", "G0 Z2", "G0 X5 Y5"}));
    QVERIFY(!page->mode()->isStarted());
}

// Bottom side first: its engraving moved so that it meets the top once turned, the flip frame,
// parking for the turn-over; then the top pass on the turned board.
void TstModePcb::bothSides()
{
    auto page = startPage({{PcbJob::Bottom, BottomLayout}, {PcbJob::Top, TopLayout}});
    QVERIFY(page);
    QVERIFY(page->run(60000));
    const QStringList lines = page->lines();
    QCOMPARE(page->prompts, (QList<PcbPage::Prompt>{{EngravingBit, 0}, {OutlineCutter, 1}, {EngravingBit, 0}}));
    // All layers span X 1..40, the bottom answer 30..40: turned about X 20.5, its copper belongs at 1..11.
    QVERIFY(lines.contains(QStringLiteral("G0 X1.000000 Y4")));
    const int bottomStart = lines.indexOf(QStringLiteral("G1 X1.000000 Y4.000000 Z-0.100000"));
    const int bottomEnd = lines.indexOf(QStringLiteral("G1 X11.000000 Y4.000000 Z-0.100000"));
    const int frame = lines.indexOf(QRegularExpression(QStringLiteral("^G0 X-[0-9.]+ Y-[0-9.]+ Z30.000000$")));
    const int park = lines.indexOf(QStringLiteral("G0X72.5Y145"));
    const int secondGrid = lines.indexOf(QStringLiteral("G38.2 Z-62.0 F100"), lines.indexOf(QStringLiteral("G38.2 Z-62.0 F100")) + 1);
    const int topStart = lines.indexOf(QStringLiteral("G1 X1.000000 Y2.000000 Z-0.100000"));
    QVERIFY(0 < bottomStart && bottomStart < bottomEnd && bottomEnd < frame && frame < park && park < secondGrid
            && secondGrid < topStart);
    // 1.6 mm board: the frame is cut to 1.55 mm in four passes of at most 0.5 mm, 37 points each.
    const QStringList frameLines = lines.mid(frame, park - frame).filter(QRegularExpression(QStringLiteral("^G1 ")));
    QCOMPARE(frameLines.size(), 4 * 37);
    QVERIFY(frameLines.first().endsWith(QStringLiteral(" Z-0.387500")));
    QVERIFY(frameLines.last().endsWith(QStringLiteral(" Z-1.550000")));
    QCOMPARE(lines.mid(park - 6, 6), (QStringList{"M5", "G21", "G90", "G92.1", "M5", "G0 Z0"}));
    QCOMPARE(lines.count(QStringLiteral("G38.2 Z-62.0 F100")), 2);
    QVERIFY(!page->mode()->isStarted());
}

// After probing the preview shows the surface coloured by height and the page its range: on the
// tilted board the first grid point (X1 Y2) is the lowest, the opposite corner 0.05 mm higher.
void TstModePcb::measuredSurfaceShown()
{
    GrblSimulator::Options options;
    options.surface = GrblSimulator::Surface::Tilted;
    auto page = startPage({{PcbJob::Top, TopLayout}}, options);
    QVERIFY(page);
    QVERIFY(page->run(60000));
    const QLabel *range = page->mode()->findChild<QLabel *>(QStringLiteral("label_surface"));
    QVERIFY(range->isVisibleTo(page->mode()));
    QVERIFY2(QRegularExpression(QStringLiteral("^Measured surface: -?0.00[0-4] mm \\(blue\\) to 0.0(4[6-9]|5[0-4]) mm \\(red\\)$"))
                 .match(range->text())
                 .hasMatch(),
             qPrintable(range->text()));
    const HeightMapSurface *surface = page->main.page()->render()->heightMap();
    QVERIFY(surface->isBuilt());
    const QVector<float> colours = surface->vertexColours();
    QCOMPARE(colours.size(), 12 * 3);
    QCOMPARE(colours.mid(0, 3), (QVector<float>{0, 0, 1}));
    QCOMPARE(colours.mid(33, 3), (QVector<float>{1, 0, 0}));
}

void TstModePcb::drillChangeOnLastLine()
{
    auto page = startPage({{PcbJob::Drill, "G21 G90\nM3 S12000 F60\nG0 X5 Y5\nG1 Z-2\nG0 Z2\n"
                                           "(MSG, Change tool bit to drill size 3 mm)\n"}});
    QVERIFY(page);
    QVERIFY(page->run(60000));
    QCOMPARE(page->prompts.last(), PcbPage::Prompt("(MSG, Change tool bit to drill size 3 mm)", 2));
    QCOMPARE(page->lines().mid(page->lines().size() - 6), reReference("5.000000", "5.000000"));
}

// Play while the door was seen open only asks about the door; the report of a closed door starts the job.
void TstModePcb::openDoorDelaysStart()
{
    auto page = startPage({{PcbJob::Top, TopLayout}});
    QVERIFY(page);
    CheckDoorMessage::setDoorOpen(true);
    page->main.click("button_play_pause");
    QVERIFY(!page->mode()->isStarted());
    QTRY_VERIFY(page->mode()->isStarted());
    QVERIFY(page->main.statusRequests() > 0);
    QTRY_VERIFY(page->lines().contains(QStringLiteral("M0")));
}

void TstModePcb::probeAnswerWithoutHeight_data()
{
    QTest::addColumn<int>("broken");
    QTest::addColumn<QString>("reason");
    // Probe 0 measures the tool, 1 to 12 the grid.
    QTest::newRow("tool length") << 0 << "The probe reported no length of the engraving bit.";
    QTest::newRow("a grid point") << 4 << "The probe reported no height at X7.67033 Y12.001 of the board.";
    QTest::newRow("the last grid point") << 12 << "The probe reported no height at X21.001 Y2 of the board.";
}

// A probe result without its height stops the job before anything is cut, whichever probe it was.
void TstModePcb::probeAnswerWithoutHeight()
{
    QFETCH(int, broken);
    QFETCH(QString, reason);
    InfoDialog::instance()->on_pushButton_clicked();
    ScriptedGrbl controller([broken](int probe) {
        return probe == broken ? QStringLiteral("[PRB:0.000,0.000:1]") : QStringLiteral("[PRB:0.000,0.000,-20.000:1]");
    });
    QVERIFY(controller.start());
    PcbPage page(server.serverPort());
    qputenv("KORVEX_PORT", controller.devicePath().toUtf8());
    QTest::mouseClick(page.main.window->findChild<QPushButton *>(QStringLiteral("TestUnlock")), Qt::LeftButton);
    qunsetenv("KORVEX_PORT");
    QTRY_VERIFY_WITH_TIMEOUT(controller.received.contains(QStringLiteral("$$")), 20000);
    page.main.click("button_pcb");
    CalcSimRule rule;
    rule.answer = TopLayout;
    server.pushRule(rule);
    QVERIFY(page.load(PcbJob::Top, page.main.writeFile("design")));

    page.main.click("button_play_pause");
    QTRY_VERIFY_WITH_TIMEOUT(!page.mode()->isStarted(), 20000);
    QCOMPARE(InfoDialog::instance()->text(), QStringLiteral("The PCB job was stopped. ") + reason + QLatin1Char('\n'));
    QTest::qWait(100);
    QCOMPARE(controller.received.last(), QStringLiteral("G0 Z10"));
    InfoDialog::instance()->on_pushButton_clicked();
}

// Real GRBL answers a probe that touches nothing with an alarm: the connection ends, the job with it.
void TstModePcb::probeThatMisses()
{
    InfoDialog::instance()->on_pushButton_clicked();
    auto page = startPage({{PcbJob::Top, TopLayout}});
    QVERIFY(page);
    page->main.simulator->setProbeMisses(true);
    QVERIFY(page->run(60000));
    QTRY_COMPARE(page->main.window->pageStack()->currentIndex(), 0);
    QVERIFY(InfoDialog::instance()->text().contains(QStringLiteral("G38.2 Z-65 F100")));
    QTest::qWait(300);
    const QStringList lines = page->lines();
    QCOMPARE(lines.mid(lines.indexOf(QStringLiteral("G38.2 Z-65 F100")) + 1).filter(QStringLiteral("G38.2")), QStringList());
    QVERIFY(!lines.contains(QStringLiteral("G0 Z10")));
    InfoDialog::instance()->on_pushButton_clicked();
}

void TstModePcb::connectionLostDuringProbing()
{
    InfoDialog::instance()->on_pushButton_clicked();
    auto page = startPage({{PcbJob::Top, TopLayout}});
    QVERIFY(page);
    GrblSimulator *simulator = page->main.simulator.get();
    int probes = 0;
    connect(simulator, &GrblSimulator::lineReceived, &page->listener, [&probes, simulator](const QString &line) {
        if (line == QLatin1String("G38.2 Z-4.0 F100") && ++probes == 4)
            QTimer::singleShot(0, simulator, &GrblSimulator::stop);
    });
    QVERIFY(page->run(60000));
    QTRY_COMPARE(page->main.window->pageStack()->currentIndex(), 0);
    QVERIFY(InfoDialog::instance()->text().contains(QStringLiteral("USB connection closed")));
    QCOMPARE(page->mode()->serialPort(), static_cast<SerialPort *>(nullptr));
    QVERIFY(page->mode()->isPaused());
    QCOMPARE(page->lines().count(QStringLiteral("G38.2 Z-4.0 F100")), 4);
    InfoDialog::instance()->on_pushButton_clicked();
}

void TstModePcb::toolChangePrompt_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("picture");
    QTest::newRow("engraving") << 0 << true;
    QTest::newRow("outline") << 1 << true;
    QTest::newRow("drill") << 2 << true;
    QTest::newRow("unknown") << 7 << false;
}

// Every prompt reuses the one dialog; confirming it closes it and leaves the job held until play.
void TstModePcb::toolChangePrompt()
{
    QFETCH(int, type);
    QFETCH(bool, picture);
    MainPage main;
    PCBChangeMessageBox *prompt = main.window->toolChangePrompt();
    main.window->showQTInfo(QStringLiteral("first prompt"), 1);
    main.window->showQTInfo(QStringLiteral("Change tool bit to drill size 0.8 mm"), type);
    QVERIFY(prompt->isVisible());
    QCOMPARE(prompt->windowTitle(), QStringLiteral("Change milling cutter"));
    QCOMPARE(prompt->findChild<QLabel *>(QStringLiteral("ChangeToolInfo"))->text(),
             QStringLiteral("Change tool bit to drill size 0.8 mm"));
    const QLabel *pixmap = prompt->findChild<QLabel *>(QStringLiteral("pixmap"));
    const QPixmap shown = pixmap->pixmap(Qt::ReturnByValue);
    QCOMPARE(!shown.isNull(), picture);
    if (picture)
        QCOMPARE(shown.height(), pixmap->height());
    QCOMPARE(main.window->findChildren<PCBChangeMessageBox *>().size(), 1);
    auto *mode = main.page()->findChild<Mode_PCB *>();
    mode->setPaused(true);
    QTest::mouseClick(prompt->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    QVERIFY(!prompt->isVisible());
    QVERIFY(mode->isPaused());
}

QTEST_MAIN(TstModePcb)
#include "tst_mode_pcb.moc"
