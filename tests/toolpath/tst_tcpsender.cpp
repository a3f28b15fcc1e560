#include "app/infodialog.h"
#include "toolpath/tcpsender.h"
#include "tools/calcsim/calcsimserver.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

Q_DECLARE_METATYPE(CalcSimRule)

namespace {
CalcSimRule rule(CalcSimRule::Action action, const QByteArray &answer = QByteArray(), int delayMs = 0, int chunks = 1)
{
    CalcSimRule r;
    r.action = action;
    r.answer = answer;
    r.delayMs = delayMs;
    r.chunks = chunks;
    return r;
}

const char *answerSignal(qint32 kind)
{
    switch (kind) {
    case TcpSender::PcbLayout:
        return SIGNAL(PcbLayoutfileRec(QString));
    case TcpSender::PcbOutline:
        return SIGNAL(PcbOutlinefileRec(QString));
    case TcpSender::PcbDrill:
        return SIGNAL(PcbDrillfileRec(QString));
    case TcpSender::PcbBotLayout:
        return SIGNAL(PcbLayoutBotfileRec(QString));
    case TcpSender::Stl:
        return SIGNAL(STLfileRec(QString));
    default:
        return SIGNAL(DXFfileRec(QString));
    }
}
}

class TstTcpSender : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void requestTextsAndAnswerSignals_data();
    void requestTextsAndAnswerSignals();
    void backToBackRequestsAreSerialised();
    void answersAreConcatenatedAndKeptApart_data();
    void answersAreConcatenatedAndKeptApart();
    void unreachableServerDropsRequestWithoutBlockingQueue();
    void standInAnswersFromFilesByKind();
    void requestsBehindDroppedOneStillRun();

private:
    void pointAt(quint16 port);

    CalcSimServer *m_server = nullptr;
    TcpSender *m_sender = nullptr;
};

void TstTcpSender::init()
{
    m_server = new CalcSimServer(this);
    QVERIFY(m_server->listen());
    m_sender = new TcpSender(this);
    pointAt(m_server->serverPort());
}

void TstTcpSender::cleanup()
{
    delete m_sender;
    delete m_server;
    InfoDialog::instance()->on_pushButton_clicked();
}

void TstTcpSender::pointAt(quint16 port)
{
    m_sender->setServer(QHostAddress::LocalHost, port);
}

void TstTcpSender::requestTextsAndAnswerSignals_data()
{
    QTest::addColumn<qint32>("kind");
    QTest::addColumn<QString>("fileText");
    QTest::addColumn<QString>("expected");

    const QString gerber = QStringLiteral("G04 top*\nX100Y100D01*\n");
    const QString length = QString::number(gerber.size());
    QTest::newRow("top layout") << qint32(TcpSender::PcbLayout) << gerber
                                << QStringLiteral("PCB\n1.6\nLayout\n") + length + QLatin1Char('\n') + gerber;
    QTest::newRow("bottom layout") << qint32(TcpSender::PcbBotLayout) << gerber
                                   << QStringLiteral("PCB\n1.6\nBotLayout\n") + length + QLatin1Char('\n') + gerber;
    QTest::newRow("drill") << qint32(TcpSender::PcbDrill) << gerber
                           << QStringLiteral("PCB\n2\nDrill\n") + length + QLatin1Char('\n') + gerber;
    QTest::newRow("outline") << qint32(TcpSender::PcbOutline) << gerber
                             << QStringLiteral("PCB\n1.8\nOutline\n") + length + QLatin1Char('\n') + gerber;
    // Ten characters, more bytes: the length counts characters.
    const QString umlauts = QStringLiteral("G04 \u00e4\u00f6\u00fc*\n\n");
    QTest::newRow("non-ascii length") << qint32(TcpSender::PcbLayout) << umlauts
                                      << QStringLiteral("PCB\n1.6\nLayout\n10\n") + umlauts;
}

void TstTcpSender::requestTextsAndAnswerSignals()
{
    QFETCH(qint32, kind);
    QFETCH(QString, fileText);
    QFETCH(QString, expected);

    const QString text = TcpSender::pcbRequestText(kind, 1.6f, fileText);
    QCOMPARE(text, expected);

    m_server->setDefaultAnswer("G0 X1 Y1\n");
    QSignalSpy answered(m_sender, answerSignal(kind));
    m_sender->enqueueRequest(kind, text);
    QVERIFY(answered.wait(5000));
    QCOMPARE(answered.first().first().toString(), QStringLiteral("G0 X1 Y1\n"));
    QCOMPARE(m_server->requests(), QStringList{expected});
    QCOMPARE(m_server->requests().first().toUtf8(), expected.toUtf8());
}

void TstTcpSender::backToBackRequestsAreSerialised()
{
    m_server->pushRule(rule(CalcSimRule::Action::Slow, "first\n", 150));
    m_server->pushRule(rule(CalcSimRule::Action::Answer, "second\n"));
    QSignalSpy stlAnswers(m_sender, &TcpSender::STLfileRec);
    QSignalSpy dxfAnswers(m_sender, &TcpSender::DXFfileRec);
    int stlAnswersWhenSecondArrived = -1;
    connect(m_server, &CalcSimServer::requestReceived, this, [&](const QString &request) {
        if (request.startsWith(QLatin1String("DXF")))
            stlAnswersWhenSecondArrived = stlAnswers.count();
    });

    const QString stl = QStringLiteral("STL\n6\n2\n1\n600\n0.5\n0\nsolid\n");
    const QString dxf = QStringLiteral("DXF\n4\n600\n0\n0.5\n1\n10000\n0\nLINE\n");
    m_sender->enqueueRequest(TcpSender::Stl, stl);
    m_sender->enqueueRequest(TcpSender::Dxf, dxf);
    QCOMPARE(m_sender->pendingRequests(), 2);

    QVERIFY(dxfAnswers.wait(5000));
    QCOMPARE(stlAnswersWhenSecondArrived, 1);
    QCOMPARE(stlAnswers.first().first().toString(), QStringLiteral("first\n"));
    QCOMPARE(dxfAnswers.first().first().toString(), QStringLiteral("second\n"));
    QCOMPARE(m_server->requests(), (QStringList{stl, dxf}));
    QCOMPARE(m_server->connectionCount(), 2);
    QCOMPARE(m_sender->pendingRequests(), 0);
}

void TstTcpSender::answersAreConcatenatedAndKeptApart_data()
{
    QTest::addColumn<CalcSimRule>("firstRule");
    QTest::addColumn<QString>("firstAnswer");

    QByteArray program;
    for (int i = 0; i < 200; ++i)
        program += "G1 X" + QByteArray::number(i) + " Y" + QByteArray::number(i * 2) + " Z-0.1\n";
    QTest::newRow("many chunks") << rule(CalcSimRule::Action::Chunked, program, 15, 7) << QString::fromLatin1(program);
    QTest::newRow("empty answer") << rule(CalcSimRule::Action::Empty) << QString();
    QTest::newRow("refused after accept") << rule(CalcSimRule::Action::Refuse, "never\n") << QString();
}

void TstTcpSender::answersAreConcatenatedAndKeptApart()
{
    QFETCH(CalcSimRule, firstRule);
    QFETCH(QString, firstAnswer);

    m_server->pushRule(firstRule);
    m_server->pushRule(rule(CalcSimRule::Action::Answer, "M2\n"));
    QSignalSpy layouts(m_sender, &TcpSender::PcbLayoutfileRec);
    m_sender->enqueueRequest(TcpSender::PcbLayout, TcpSender::pcbRequestText(TcpSender::PcbLayout, 1.6f, "X\n"));
    m_sender->enqueueRequest(TcpSender::PcbLayout, TcpSender::pcbRequestText(TcpSender::PcbLayout, 1.6f, "Y\n"));

    QTRY_COMPARE_WITH_TIMEOUT(layouts.count(), 2, 5000);
    QCOMPARE(layouts.at(0).first().toString(), firstAnswer);
    QCOMPARE(layouts.at(1).first().toString(), QStringLiteral("M2\n"));
}

void TstTcpSender::unreachableServerDropsRequestWithoutBlockingQueue()
{
    const quint16 port = m_server->serverPort();
    m_server->close();
    QSignalSpy drills(m_sender, &TcpSender::PcbDrillfileRec);

    m_sender->enqueueRequest(TcpSender::PcbDrill, TcpSender::pcbRequestText(TcpSender::PcbDrill, 1.6f, "T1\n"));
    QCOMPARE(m_sender->pendingRequests(), 0);
    QVERIFY(InfoDialog::instance()->text().endsWith(QString::fromLatin1(TcpSender::networkErrorText)));
    QCOMPARE(InfoDialog::instance()->text().count(QStringLiteral("Network error")), 1);
    QCOMPARE(drills.count(), 0);

    QVERIFY(m_server->listen(QHostAddress::LocalHost, port));
    m_server->setDefaultAnswer("G81\n");
    m_sender->enqueueRequest(TcpSender::PcbDrill, TcpSender::pcbRequestText(TcpSender::PcbDrill, 1.6f, "T2\n"));
    QVERIFY(drills.wait(5000));
    QCOMPARE(drills.first().first().toString(), QStringLiteral("G81\n"));
    QCOMPARE(m_server->requests().size(), 1);
    QVERIFY(m_server->requests().first().endsWith(QLatin1String("T2\n")));
}

void TstTcpSender::standInAnswersFromFilesByKind()
{
    QTemporaryDir answers;
    QFile drill(answers.filePath(QStringLiteral("PCB-Drill.nc")));
    QVERIFY(drill.open(QIODevice::WriteOnly));
    drill.write("(Change tool bit to 0.8mm)\nG0 Z5\n");
    drill.close();
    m_server->setAnswerDirectory(answers.path());
    m_server->setDefaultAnswer("default\n");
    QSignalSpy drills(m_sender, &TcpSender::PcbDrillfileRec);
    QSignalSpy layouts(m_sender, &TcpSender::PcbLayoutfileRec);

    m_sender->enqueueRequest(TcpSender::PcbDrill, TcpSender::pcbRequestText(TcpSender::PcbDrill, 1.6f, "T1\n"));
    m_sender->enqueueRequest(TcpSender::PcbLayout, TcpSender::pcbRequestText(TcpSender::PcbLayout, 1.6f, "G04*\n"));
    QTRY_COMPARE_WITH_TIMEOUT(layouts.count(), 1, 5000);
    QCOMPARE(drills.first().first().toString(), QStringLiteral("(Change tool bit to 0.8mm)\nG0 Z5\n"));
    QCOMPARE(layouts.first().first().toString(), QStringLiteral("default\n"));
}

void TstTcpSender::requestsBehindDroppedOneStillRun()
{
    // The server answers the first request slowly and goes away right after: the two requests
    // waiting behind it each get their four attempts, then the queue is free again.
    const quint16 port = m_server->serverPort();
    m_server->pushRule(rule(CalcSimRule::Action::Slow, "first\n", 100));
    QSignalSpy outlines(m_sender, &TcpSender::PcbOutlinefileRec);
    connect(m_sender, &TcpSender::PcbOutlinefileRec, m_server, &CalcSimServer::close);

    for (const char *file : {"A\n", "B\n", "C\n"})
        m_sender->enqueueRequest(TcpSender::PcbOutline, TcpSender::pcbRequestText(TcpSender::PcbOutline, 1.6f, file));
    QTRY_COMPARE_WITH_TIMEOUT(m_sender->pendingRequests(), 0, 10000);
    QCOMPARE(outlines.count(), 1);
    QCOMPARE(InfoDialog::instance()->text().count(QStringLiteral("Network error")), 2);

    disconnect(m_sender, nullptr, m_server, nullptr);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, port));
    m_sender->enqueueRequest(TcpSender::PcbOutline, TcpSender::pcbRequestText(TcpSender::PcbOutline, 1.6f, "D\n"));
    QVERIFY(outlines.wait(5000));
    QCOMPARE(m_server->requests().size(), 2);
}

QTEST_MAIN(TstTcpSender)
#include "tst_tcpsender.moc"
