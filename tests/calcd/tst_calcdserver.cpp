// The server as a program: transport, strict headers, limits, and staying up under bad input.
#include "calcdtestserver.h"
#include "grblcheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <sys/resource.h>

namespace {

const QString examples = QStringLiteral("/usr/share/doc/gerbv/examples/");
const QString drillFile = examples + QStringLiteral("protel-pnp/SE_SG_IF_V2.TXT");
const QString binaryStl = QStringLiteral("/usr/share/openscad/testdata/stl/adns2610_dev_circuit_inv.stl");

QByteArray goodRequest()
{
    return CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, CalcdTestServer::fileText(drillFile));
}

} // namespace

class TestCalcdServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void helpListsEveryOption();
    void badRequestsAnswerEmpty_data();
    void badRequestsAnswerEmpty();
    void hostileDesignsAnswerOrSayWhy_data();
    void hostileDesignsAnswerOrSayWhy();
    void oversizedRequestIsDropped();
    void silentClientIsDroppedWhileOthersAreServed();
    void thousandConnectionsAtOnce();
    void calculationPastTimeLimitAnswersEmpty();

private:
    void expectStillServing(const CalcdTestServer &server);
    QByteArray goodAnswer;
    std::unique_ptr<CalcdTestServer> shared;
};

void TestCalcdServer::initTestCase()
{
    if (!QFile::exists(drillFile))
        QSKIP("gerbv's examples are not installed");
    shared = std::make_unique<CalcdTestServer>();
    QVERIFY(shared->isRunning());
    goodAnswer = shared->ask(goodRequest());
    QVERIFY(goodAnswer.contains("Change tool bit to"));
}

void TestCalcdServer::expectStillServing(const CalcdTestServer &server)
{
    QVERIFY(server.isRunning());
    QCOMPARE(server.ask(goodRequest()), goodAnswer);
}

void TestCalcdServer::helpListsEveryOption()
{
    QProcess help;
    help.start(QStringLiteral(CALCD_PROGRAM), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(5000));
    const QByteArray text = help.readAllStandardOutput();
    for (const char *option : {"--port", "--listen", "--jobs", "--max-connections", "--idle-timeout",
                               "--time-limit", "--tool-width", "--engrave-depth", "--isolation-width", "--tabs", "--help"})
        QVERIFY2(text.contains(option), option);
    QVERIFY(!text.contains("--worker"));
}

void TestCalcdServer::badRequestsAnswerEmpty_data()
{
    QTest::addColumn<QByteArray>("request");
    const QString gerber = CalcdTestServer::fileText(examples + QStringLiteral("protel-pnp/SE_SG_IF_V2.GTL"));
    const QString drill = CalcdTestServer::fileText(drillFile);
    const QString binaryAsText = QString::fromUtf8(CalcdTestServer::fileBytes(binaryStl));

    QTest::newRow("unknown first line") << QByteArray("GCODE\n5\nhello");
    QTest::newRow("lower-case kind") << QByteArray("pcb\n1.6\nLayout\n1\nx");
    QTest::newRow("unknown PCB part") << QByteArray("PCB\n1.6\nSilk\n1\nx");
    QTest::newRow("thickness not a number") << QByteArray("PCB\nthick\nLayout\n1\nx");
    QTest::newRow("length not a number") << QByteArray("PCB\n1.6\nLayout\n-1\nx");
    QTest::newRow("overlong header line") << QByteArray("PCB\n1.") + QByteArray(100, '6');
    QTest::newRow("STL field missing") << QByteArray("STL\n3\n3\n5\n300\n1\nabc");
    QTest::newRow("length smaller than text")
        << QStringLiteral("PCB\n2\nDrill\n%1\n%2").arg(drill.size() - 10).arg(drill).toUtf8();
    QTest::newRow("text not UTF-8") << QByteArray("PCB\n1.6\nLayout\n4\n\xff\xfe\xfd\xfc");
    for (const QString &part : {QStringLiteral("Layout"), QStringLiteral("BotLayout"), QStringLiteral("Drill"),
                                QStringLiteral("Outline")}) {
        QTest::addRow("empty %s", qPrintable(part)) << CalcdTestServer::pcbRequest(part, 1.6, QString());
        QTest::addRow("binary %s", qPrintable(part)) << CalcdTestServer::pcbRequest(part, 1.6, binaryAsText);
    }
    QTest::newRow("truncated drill file") << CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, drill.left(200));
    QTest::newRow("Gerber as drill file") << CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, gerber);
    QTest::newRow("drill file as layout") << CalcdTestServer::pcbRequest(QStringLiteral("Layout"), 1.6, drill);
    QTest::newRow("empty STL") << CalcdTestServer::stlRequest(QString(), 3, 5, 300, 1);
    QTest::newRow("truncated binary STL") << CalcdTestServer::rawStlRequest(CalcdTestServer::fileBytes(binaryStl).left(1000), 3, 5, 300, 1);
    QTest::newRow("STL with bad vertex")
        << CalcdTestServer::stlRequest(CalcdTestServer::fileText(QStringLiteral("/usr/share/openscad/testdata/stl/invalidvertex.stl")), 3, 5, 300, 1);
    QTest::newRow("binary as STL text") << CalcdTestServer::stlRequest(binaryAsText, 3, 5, 300, 1);
    QTest::newRow("empty DXF") << CalcdTestServer::dxfRequest(QString(), 300, 0.5, 1, 12000);
    QTest::newRow("binary DXF") << CalcdTestServer::dxfRequest(binaryAsText, 300, 0.5, 1, 12000);
    QTest::newRow("truncated DXF")
        << CalcdTestServer::dxfRequest(CalcdTestServer::fileText(QStringLiteral("/usr/share/openscad/testdata/dxf/circle.dxf")).left(300), 300, 0.5, 1, 12000);
}

void TestCalcdServer::badRequestsAnswerEmpty()
{
    QFETCH(QByteArray, request);
    QCOMPARE(shared->ask(request), QByteArray());
    expectStillServing(*shared);
}

void TestCalcdServer::hostileDesignsAnswerOrSayWhy_data()
{
    QTest::addColumn<QByteArray>("request");
    const auto layout = [](const QString &path) {
        return CalcdTestServer::pcbRequest(QStringLiteral("Layout"), 0, CalcdTestServer::fileText(examples + path));
    };
    const auto drill = [](const QString &text) { return CalcdTestServer::pcbRequest(QStringLiteral("Drill"), 2, text); };
    QTest::newRow("macros with rotation") << layout(QStringLiteral("am-test/am-test.gbx"));
    QTest::newRow("clear polarity") << layout(QStringLiteral("polarity/6_vbat.gbr"));
    QTest::newRow("step and repeat") << layout(QStringLiteral("dan/top_sr.gbx"));
    QTest::newRow("Excellon with only a header")
        << drill(CalcdTestServer::fileText(examples + QStringLiteral("numpres/numpres.pcb.output_unplated-drill.grb")));
    QTest::newRow("arcs in a drill route")
        << drill(QStringLiteral("M48\nMETRIC,TZ\nT1C1.0\n%\nT1\nG00X10000Y10000\nM15\nG02X20000Y10000A5000\n"
                                "G03X10000Y10000I-5000J0\nG03X12000Y10000A0\nM16\nM30\n"));
    QTest::newRow("drill file 10 m across")
        << drill(QStringLiteral("M48\nMETRIC,TZ\nT1C1.0\n%\nT1\nX10000000Y0\nX0Y10000000\nM30\n"));
    QTest::newRow("layout 10 m across")
        << CalcdTestServer::pcbRequest(QStringLiteral("Layout"), 1.6,
                                       QStringLiteral("%FSLAX24Y24*%\n%MOIN*%\n%ADD10C,0.0100*%\nD10*\nX0Y0D02*\n"
                                                      "X3937000Y0D01*\nX0Y100D02*\nX100Y100D01*\nM02*\n"));
    QTest::newRow("tool without a diameter") << drill(QStringLiteral("M48\nINCH,TZ\nT1C0.035\n%\nT1\nX10000Y10000\nT2\nX20000Y10000\nM30\n"));
}

void TestCalcdServer::hostileDesignsAnswerOrSayWhy()
{
    QFETCH(QByteArray, request);
    const CalcdTestServer server;
    const QByteArray answer = server.ask(request);
    if (answer.isEmpty()) {
        QTRY_VERIFY2(server.log().contains(QLatin1String("korvex-calcd: ")), "an empty answer without a reason in the log");
    } else {
        const QStringList problems = answerProblems(QString::fromUtf8(answer));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }
    expectStillServing(server);
}

void TestCalcdServer::oversizedRequestIsDropped()
{
    const CalcdTestServer server;
    const int size = 64 * 1024 * 1024 + 1;
    QByteArray request = QStringLiteral("PCB\n1.6\nLayout\n%1\n").arg(size).toUtf8();
    request += QByteArray(size, 'G');
    QCOMPARE(server.ask(request), QByteArray());
    expectStillServing(server);
}

void TestCalcdServer::silentClientIsDroppedWhileOthersAreServed()
{
    const CalcdTestServer server({QStringLiteral("--idle-timeout"), QStringLiteral("1")});
    QTcpSocket silent;
    silent.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(silent.waitForConnected(5000));
    QTcpSocket lying;
    lying.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(lying.waitForConnected(5000));
    lying.write("PCB\n2\nDrill\n5000\nM48\n");
    QVERIFY(lying.waitForBytesWritten(5000));

    expectStillServing(server);
    QElapsedTimer waited;
    waited.start();
    QVERIFY(silent.waitForDisconnected(10000));
    QVERIFY(lying.state() == QAbstractSocket::UnconnectedState || lying.waitForDisconnected(10000));
    QVERIFY(waited.elapsed() < 5000);
    QVERIFY(lying.readAll().isEmpty());
}

void TestCalcdServer::thousandConnectionsAtOnce()
{
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::max<rlim_t>(files.rlim_cur, std::min<rlim_t>(files.rlim_max, 4096));
    setrlimit(RLIMIT_NOFILE, &files);
    if (files.rlim_cur < 1100)
        QSKIP("the test process may not open 1000 sockets");

    const CalcdTestServer server;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 1000; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress::LocalHost, server.port());
    }
    for (auto &client : clients)
        client->write("DRILL\n");
    int closed = 0;
    QElapsedTimer timer;
    timer.start();
    while (closed < 1000 && timer.elapsed() < 60000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        closed = static_cast<int>(std::count_if(clients.begin(), clients.end(), [](const auto &c) {
            return c->state() == QAbstractSocket::UnconnectedState;
        }));
    }
    QCOMPARE(closed, 1000);
    for (auto &client : clients)
        QVERIFY(client->readAll().isEmpty());
    expectStillServing(server);
}

void TestCalcdServer::calculationPastTimeLimitAnswersEmpty()
{
    // A hair-thin cutter in hundredth-millimetre layers keeps a worker busy far past the limit.
    const CalcdTestServer server({QStringLiteral("--time-limit"), QStringLiteral("2")});
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(server.ask(CalcdTestServer::rawStlRequest(CalcdTestServer::fileBytes(binaryStl), 0.05, 5, 300, 0.01)), QByteArray());
    QVERIFY(timer.elapsed() < 10000);
    expectStillServing(server);
}

QTEST_GUILESS_MAIN(TestCalcdServer)
#include "tst_calcdserver.moc"
