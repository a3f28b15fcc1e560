#include "link/checkdoormessage.h"
#include "modes/dxfwizard.h"
#include "modes/mode_stl.h"
#include "modes/stlwizard.h"
#include "tests/calcd/calcdtestserver.h"
#include "tests/modes/mainpage.h"
#include "tools/calcsim/calcsimserver.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStackedWidget>

namespace {

const QString cutterMissing =
    QStringLiteral("Not sufficient cutter information for this diameter\nAdd upper/lower diamter settings to this Material!");
const QString openscad = QStringLiteral("/usr/share/openscad/testdata/");

// The main page's STL/DXF mode; the calculation requests go to the stand-in server when asked to.
struct StlPage
{
    MainPage main;
    CalcSimServer calculator;

    Mode_STL *mode() const { return main.page()->findChild<Mode_STL *>(); }
    void answerWith(const QByteArray &answer)
    {
        calculator.listen();
        calculator.setDefaultAnswer(answer);
        main.page()->tcpSender()->setServer(QHostAddress::LocalHost, calculator.serverPort());
    }
    // The request's header lines, up to the file's text.
    QStringList requestFields(int count) const
    {
        if (!QTest::qWaitFor([this] { return !calculator.requests().isEmpty(); }, 10000))
            return {};
        return calculator.requests().first().split(QLatin1Char('\n')).mid(0, count);
    }
};

template<class T>
T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

// The job's lines arrived at the controller exactly once each, in order, one after the other: the
// whole job appears once as an unbroken run of the controller's log, so no line was skipped, doubled
// or moved.
bool arrivedOnceInOrder(const QStringList &controllerLog, const QStringList &job)
{
    // Real-time bytes (status queries, jog cancels) are taken out of the stream wherever they arrive.
    QStringList received;
    for (const QString &line : controllerLog)
        if (line != QLatin1String("?") && !line.startsWith(QLatin1String("<0x")))
            received << line;
    QStringList sent;
    for (const QString &line : job)
        sent << line.chopped(1);
    int matches = 0;
    for (int i = 0; i + sent.size() <= received.size(); ++i)
        if (received.mid(i, sent.size()) == sent)
            ++matches;
    if (matches != 1) {
        const int start = received.lastIndexOf(sent.first(), received.size() - sent.size());
        for (int i = 0; i < sent.size() && start >= 0; ++i)
            if (received.value(start + i) != sent[i]) {
                qWarning() << "line" << i << "sent" << sent[i] << "received" << received.mid(start + i - 2, 5);
                break;
            }
    }
    return matches == 1 && !sent.isEmpty();
}

// Walks a wizard to its review page and asks for the calculation.
void calculateWith(ProjectWizard *wizard, const QString &file, const QString &material, const QString &diameter,
                   const QString &thickness)
{
    wizard->fileReader()->readFile(file);
    auto *materials = child<QComboBox>(wizard, "comboBox_Material");
    materials->setCurrentIndex(materials->findText(material));
    child<QComboBox>(wizard, "comboBox_diameter")->setCurrentText(diameter);
    child<QComboBox>(wizard, "material_thickness_box")->setCurrentText(thickness);
    auto *pages = child<QStackedWidget>(wizard, "stackedWidget");
    while (pages->currentIndex() < pages->count() - 1)
        QTest::mouseClick(child<QPushButton>(wizard, "button_next"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(wizard, "button_next"), Qt::LeftButton);
}

} // namespace

class TstModeStl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { CheckDoorMessage::setDoorOpen(false); }
    void cutterLookupSetsTheRequest_data();
    void cutterLookupSetsTheRequest();
    void requestByFileKind_data();
    void requestByFileKind();
    void answersWithoutProgramEndTheWizardsWait_data();
    void answersWithoutProgramEndTheWizardsWait();
    void wizardPagesAndValidation();
    void dxfStylesExcludeEachOther();
    void moveToQueuesTheReferencePoint();
    void jobStreamsEveryLineOnceWithoutToolChanges();
    void wizardToMilledPart_data();
    void wizardToMilledPart();
};

void TstModeStl::cutterLookupSetsTheRequest_data()
{
    QTest::addColumn<QString>("diameter");
    QTest::addColumn<QStringList>("fields");
    // Cutters of 1 and 2 mm are stored with 10000 and 20000 rpm, 100 and 300 mm/min, 0.2 and 0.4 mm.
    QTest::newRow("1.5 between 1 and 2") << "1.5" << QStringList{"DXF", "7", "200", "0", "0.3", "1", "15000"};
    QTest::newRow("stored 2") << "2" << QStringList{"DXF", "7", "300", "0", "0.4", "1", "20000"};
    QTest::newRow("2.5 beyond the cutters") << "2.5" << QStringList();
    QTest::newRow("0") << "0" << QStringList();
    QTest::newRow("-3") << "-3" << QStringList();
    QTest::newRow("1000") << "1000" << QStringList();
}

void TstModeStl::cutterLookupSetsTheRequest()
{
    QFETCH(QString, diameter);
    QFETCH(QStringList, fields);
    StlPage stl;
    stl.answerWith("(* SHAPE Nr: 1 *)\n");
    QSqlQuery query;
    QVERIFY(query.exec(QStringLiteral("insert or ignore into material(name) values('Test')")));
    QVERIFY(query.exec(QStringLiteral("select id from material where name = 'Test'")) && query.next());
    const QString id = query.value(0).toString();
    QVERIFY(query.exec(QStringLiteral("insert or ignore into cutter values(%1, 1.0, 10000, 100, 0.2), (%1, 2.0, 20000, 300, 0.4)").arg(id)));
    QSignalSpy finished(stl.mode(), &Mode_STL::calculateionFinished);
    stl.mode()->calculateFile(QStringLiteral("/tmp/a.dxf"), QStringLiteral("drawing"), 5, 1, QStringLiteral("Test"),
                              diameter.toFloat(), false, true);
    if (fields.isEmpty()) {
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toString(), cutterMissing);
        QVERIFY(stl.main.boxes.texts.contains(QStringLiteral("Material/") + cutterMissing));
        QTest::qWait(200);
        QVERIFY(stl.calculator.requests().isEmpty());
        return;
    }
    QCOMPARE(stl.requestFields(7), fields);
}

void TstModeStl::requestByFileKind_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("infill");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("DXF pocketing") << "/home/u/part.dxf" << true << false << QStringList{"DXF", "7", "2000", "0", "1e-07", "1e-07", "12000"};
    QTest::newRow("DXF cut out") << "part.dxf" << false << false << QStringList{"DXF", "7", "2000", "0", "1e-07", "1e-07", "12000"};
    QTest::newRow("DXF engraving") << "part.dxf" << false << true << QStringList{"DXF", "7", "2000", "0", "0.25", "2", "12000"};
    QTest::newRow("STL") << "part.stl" << false << false << QStringList{"STL", "7", "1", "2", "2000", "0.25", "0"};
    QTest::newRow("upper-case .STL") << "PART.STL" << false << false << QStringList();
}

void TstModeStl::requestByFileKind()
{
    QFETCH(QString, name);
    QFETCH(bool, infill);
    QFETCH(bool, cut);
    QFETCH(QStringList, fields);
    StlPage stl;
    stl.answerWith(QByteArray());
    QSignalSpy finished(stl.mode(), &Mode_STL::calculateionFinished);
    stl.mode()->calculateFile(name, QStringLiteral("drawing"), 10, 2, QStringLiteral("Wood"), 1, infill, cut);
    if (fields.isEmpty()) {
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().first().toString(), QStringLiteral("Invalid Filetype"));
        QCOMPARE(child<QLabel>(stl.mode(), "Label_STLLayout")->text(), QStringLiteral("No results, try uploading a different design."));
        return;
    }
    QCOMPARE(stl.requestFields(7), fields);
    QCOMPARE(child<QPushButton>(stl.mode(), "button_import_file")->text(), fields.first() + QStringLiteral(": ") + name.section(QLatin1Char('/'), -1));
}

void TstModeStl::answersWithoutProgramEndTheWizardsWait_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("shown");
    QTest::newRow("empty") << QString() << QStringLiteral("Can´t calculate this File.");
    QTest::newRow("refused") << QStringLiteral("(Refused: 600 layers needed, at most 500; cut deeper per pass)\n")
                             << QStringLiteral("The server refused this file: 600 layers needed, at most 500; cut deeper per pass.");
    QTest::newRow("garbage") << QStringLiteral("\x01\x02 not a program\n") << QString();
}

void TstModeStl::answersWithoutProgramEndTheWizardsWait()
{
    QFETCH(QString, answer);
    QFETCH(QString, shown);
    StlPage stl;
    STLWizard *wizard = stl.mode()->chooser()->stlWizard();
    const QString file = stl.main.writeFile("solid x\nendsolid x\n", QStringLiteral("part.stl"));
    stl.answerWith(answer.toUtf8());
    QTest::mouseClick(child<QPushButton>(stl.mode()->chooser(), "stl"), Qt::LeftButton);
    calculateWith(wizard, file, QStringLiteral("Wood"), QStringLiteral("1"), QStringLiteral("10"));
    QVERIFY(wizard->isBusy());
    QSignalSpy finished(stl.mode(), &Mode_STL::calculateionFinished);
    QVERIFY(finished.wait(10000));
    if (shown.isEmpty()) {
        // Lines that are no G-code are drawn as nothing; play then finds no program.
        QCOMPARE(finished.first().first().toString(), QString());
        return;
    }
    QCOMPARE(finished.first().first().toString(), shown);
    QVERIFY(!wizard->isBusy());
    QCOMPARE(child<QLabel>(wizard, "ErrorText")->text(), shown);
}

void TstModeStl::wizardPagesAndValidation()
{
    StlPage stl;
    stl.answerWith(QByteArray());
    wizardstl *chooser = stl.mode()->chooser();
    QTest::mouseClick(child<QPushButton>(chooser, "casting"), Qt::LeftButton);
    QCOMPARE(chooser->currentPage(), int(wizardstl::StlPage));
    QTest::mouseClick(child<QPushButton>(chooser->stlWizard(), "button_previous"), Qt::LeftButton);
    QCOMPARE(chooser->currentPage(), int(wizardstl::ChooserPage));
    QTest::mouseClick(child<QPushButton>(chooser, "lab_on_a_chip"), Qt::LeftButton);
    QCOMPARE(chooser->currentPage(), int(wizardstl::DxfPage));
    QTest::mouseClick(child<QPushButton>(chooser->dxfWizard(), "button_previous"), Qt::LeftButton);
    QCOMPARE(chooser->currentPage(), int(wizardstl::ChooserPage));

    QTest::mouseClick(child<QPushButton>(chooser, "stl"), Qt::LeftButton);
    STLWizard *wizard = chooser->stlWizard();
    QSignalSpy calculate(wizard, &ProjectWizard::calculate);
    for (int page = 0; page < 3; ++page)
        QTest::mouseClick(child<QPushButton>(wizard, "button_next"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>(wizard, "button_next")->text(), QStringLiteral("Calculate"));
    child<QComboBox>(wizard, "comboBox_Material_2")->setCurrentText(QString());
    child<QComboBox>(wizard, "comboBox_diameter_2")->setCurrentText(QStringLiteral("1"));
    QTest::mouseClick(child<QPushButton>(wizard, "button_next"), Qt::LeftButton);
    QCOMPARE(child<QLabel>(wizard, "ErrorText")->text(), QStringLiteral("File is needed\nMaterial is needed\n"));
    QVERIFY(calculate.isEmpty());
    QVERIFY(!wizard->isBusy());

    // The STL wizard cuts as deep as the stock is thick, and never pockets or engraves.
    calculateWith(wizard, stl.main.writeFile("solid x\n", QStringLiteral("p.stl")), QStringLiteral("Wood"), QStringLiteral("3"), QStringLiteral("15"));
    QVERIFY2(calculate.size() == 1, qPrintable(child<QLabel>(wizard, "ErrorText")->text()));
    const QList<QVariant> arguments = calculate.first();
    QVERIFY(arguments.at(0).toString().endsWith(QLatin1String("/p.stl")));
    QCOMPARE(arguments.at(2).toFloat(), 15.0f);
    QCOMPARE(arguments.at(3).toFloat(), 15.0f);
    QCOMPARE(arguments.at(4).toString(), QStringLiteral("Wood"));
    QCOMPARE(arguments.at(5).toFloat(), 3.0f);
    QCOMPARE(arguments.at(6).toBool(), false);
    QCOMPARE(arguments.at(7).toBool(), false);
    QVERIFY(wizard->isBusy());
}

void TstModeStl::dxfStylesExcludeEachOther()
{
    StlPage stl;
    stl.answerWith(QByteArray());
    QTest::mouseClick(child<QPushButton>(stl.mode()->chooser(), "dxf"), Qt::LeftButton);
    DXFWizard *wizard = stl.mode()->chooser()->dxfWizard();
    QSignalSpy calculate(wizard, &ProjectWizard::calculate);
    auto *engrave = child<QCheckBox>(wizard, "checkBox_engrave");
    auto *cut = child<QCheckBox>(wizard, "checkBox_cut");
    auto *infill = child<QCheckBox>(wizard, "checkBox_infill");
    infill->setChecked(true);
    QCOMPARE(engrave->isChecked(), false);
    cut->setChecked(true);
    QCOMPARE(infill->isChecked(), false);
    QCOMPARE(engrave->isChecked(), false);
    calculateWith(wizard, stl.main.writeFile("0\nEOF\n", QStringLiteral("d.dxf")), QStringLiteral("Wood"), QStringLiteral("1"), QStringLiteral("1"));
    QVERIFY2(calculate.size() == 1, qPrintable(child<QLabel>(wizard, "ErrorText")->text()));
    // Neither pocketing nor engraving: the figures are cut out along their outside.
    QCOMPARE(calculate.first().at(6).toBool(), false);
    QCOMPARE(calculate.first().at(7).toBool(), false);
}

void TstModeStl::moveToQueuesTheReferencePoint()
{
    StlPage stl;
    QVERIFY(stl.main.connectToSimulator());
    stl.main.click("button_stl");
    stl.mode()->tcpSTL(QStringLiteral("G21 G90\nG0 Z2\nG0 X0 Y0\nG1 Z-1 F300\nG1 X40 Y20 F300\nG0 Z2\n"));
    stl.mode()->setStartPos(QVector2D(100, 50));
    QCOMPARE(stl.mode()->startPosition(), QVector3D(100, 50, 0));
    stl.mode()->moveTo(Jogger::Centre);
    QVERIFY(QTest::qWaitFor([&] { return stl.main.received().contains(QStringLiteral("G0 X120.000 Y60.000")); }, 10000));
    QCOMPARE(stl.main.received().mid(stl.main.received().indexOf(QStringLiteral("G21"))),
             (QStringList{"G21", "G92.1", "F 150", "S 12000", "M3", "G0 X120.000 Y60.000"}));
}

void TstModeStl::jobStreamsEveryLineOnceWithoutToolChanges()
{
    StlPage stl;
    QVERIFY(stl.main.connectToSimulator());
    stl.main.click("button_stl");
    stl.mode()->tcpSTL(QStringLiteral("G21 G90\nT1 M6\nG0 Z2\nG0 X0 Y0\nG1 Z-1 F300\nM6 T2\nG1 X40 Y20 F300\nG0 Z2\nM5\n"));
    stl.mode()->setStartPos(QVector2D(100, 50));
    stl.main.click("button_play_pause");
    Jogger *jogger = stl.mode()->jogger();
    QVERIFY(QTest::qWaitFor([jogger] { return jogger->isVisible(); }, 5000));
    QTest::mouseClick(child<QPushButton>(jogger, "jogging_finished"), Qt::LeftButton);
    const QStringList job = stl.mode()->job();
    QCOMPARE(job, (QStringList{"M5\n", "G21\n", "G90\n", "G92.1\n", "G92  Z0\n", "G0 Z 10\n", "G0 X100.000000 Y50.000000\n",
                               "G92  X 0 Y 0\n", "G21 G90\n", "G0 Z2\n", "G0 X0 Y0\n", "G1 Z-1 F300\n", "G1 X40 Y20 F300\n",
                               "G0 Z2\n", "M5\n"}));
    QVERIFY(QTest::qWaitFor([&] { return stl.main.boxes.texts.contains(QStringLiteral("Mill/Milling process completed")); }, 30000));
    QVERIFY(arrivedOnceInOrder(stl.main.received(), job));
    QVERIFY(stl.mode()->isPaused() && !stl.mode()->isStarted());
}

void TstModeStl::wizardToMilledPart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("diameter");
    QTest::addColumn<QString>("thickness");
    QTest::newRow("DXF pocketing, circles and a square") << openscad + QStringLiteral("dxf/circle-double.dxf") << "dxf" << "1" << "0.5";
    QTest::newRow("binary STL") << openscad + QStringLiteral("stl/adns2610_dev_circuit_inv.stl") << "stl" << "3" << "2";
}

// The real calculation server and the simulated controller, from the wizard to the finished job.
void TstModeStl::wizardToMilledPart()
{
    QFETCH(QString, file);
    QFETCH(QString, button);
    QFETCH(QString, diameter);
    QFETCH(QString, thickness);
    if (!QFile::exists(file))
        QSKIP("openscad-testing-data is not installed");
    const CalcdTestServer server;
    QVERIFY(server.isRunning());
    StlPage stl;
    QVERIFY(stl.main.connectToSimulator());
    stl.main.page()->tcpSender()->setServer(QHostAddress::LocalHost, server.port());
    stl.main.click("button_stl");
    wizardstl *chooser = stl.mode()->chooser();
    QTest::mouseClick(child<QPushButton>(stl.mode(), "button_import_file"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(chooser, button.toLatin1()), Qt::LeftButton);
    ProjectWizard *wizard = button == QLatin1String("dxf") ? static_cast<ProjectWizard *>(chooser->dxfWizard())
                                                           : static_cast<ProjectWizard *>(chooser->stlWizard());
    if (auto *infill = child<QCheckBox>(wizard, "checkBox_infill"))
        infill->setChecked(true);
    QSignalSpy finished(stl.mode(), &Mode_STL::calculateionFinished);
    calculateWith(wizard, file, QStringLiteral("Wood"), diameter, thickness);
    QVERIFY(finished.wait(120000));
    QCOMPARE(finished.first().first().toString(), QString());
    QVERIFY(!chooser->isVisible());

    auto *manual = child<QCheckBox>(stl.mode(), "probe_box");
    if (!manual->isChecked())
        QTest::mouseClick(manual, Qt::LeftButton);
    stl.main.click("button_play_pause");
    Jogger *jogger = stl.mode()->jogger();
    QVERIFY(QTest::qWaitFor([jogger] { return jogger->isVisible(); }, 5000));
    QTest::mouseClick(child<QPushButton>(jogger, "jogging_finished"), Qt::LeftButton);
    const QStringList job = stl.mode()->job();
    QVERIFY(job.size() > 50);
    QVERIFY(QTest::qWaitFor([&] { return stl.main.boxes.texts.contains(QStringLiteral("Mill/Milling process completed")); }, 240000));
    QVERIFY(arrivedOnceInOrder(stl.main.received(), job));
}

QTEST_MAIN(TstModeStl)
#include "tst_mode_stl.moc"
