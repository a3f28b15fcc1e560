#include "tests/calcd/calcdtestserver.h"
#include "toolpath/calcrefusal.h"

#include <QFile>
#include <QtTest>

namespace {

const QString openscad = QStringLiteral("/usr/share/openscad/testdata/");

// A binary STL of one flat square of the given side in mm: two triangles.
QByteArray squareStl(float side)
{
    QByteArray bytes(80, ' ');
    const quint32 count = 2;
    bytes.append(reinterpret_cast<const char *>(&count), 4);
    const float triangles[2][12] = {{0, 0, 1, 0, 0, 0, side, 0, 0, side, side, 0}, {0, 0, 1, 0, 0, 0, side, side, 0, 0, side, 0}};
    for (const auto &t : triangles) {
        bytes.append(reinterpret_cast<const char *>(t), sizeof t);
        bytes.append(2, '\0');
    }
    return bytes;
}

} // namespace

// What korvex-calcd answers to STL and DXF requests it cannot mill as they were asked for.
class TestCalcdStl : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void refusesInsteadOfChangingTheCut_data();
    void refusesInsteadOfChangingTheCut();

private:
    std::unique_ptr<CalcdTestServer> server;
};

void TestCalcdStl::initTestCase()
{
    server = std::make_unique<CalcdTestServer>();
    QVERIFY(server->isRunning());
}

void TestCalcdStl::refusesInsteadOfChangingTheCut_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<bool>("answered");
    const QString circle = CalcdTestServer::fileText(openscad + QStringLiteral("dxf/circle.dxf"));
    const QByteArray part = CalcdTestServer::fileBytes(openscad + QStringLiteral("stl/adns2610_dev_circuit_inv.stl"));
    QTest::newRow("DXF 200 passes") << CalcdTestServer::dxfRequest(circle, 200, 0.005, 1, 10000) << QString() << true;
    QTest::newRow("DXF 250 passes") << CalcdTestServer::dxfRequest(circle, 200, 0.004, 1, 10000)
                                    << QStringLiteral("250 passes needed, at most 200; cut deeper per pass") << true;
    QTest::newRow("DXF no depth per pass") << CalcdTestServer::dxfRequest(circle, 200, 0, 1, 10000)
                                           << QStringLiteral("the depth per pass must be more than 0 mm") << true;
    QTest::newRow("STL 600 layers") << CalcdTestServer::rawStlRequest(part, 3, 6, 300, 0.01)
                                    << QStringLiteral("600 layers needed, at most 500; cut deeper per pass") << true;
    QTest::newRow("STL in metres read as mm") << CalcdTestServer::rawStlRequest(squareStl(2000), 3, 5, 300, 1)
                                              << QStringLiteral("part is 2000 x 2000 mm; check its units") << true;
    QTest::newRow("STL cutter 0") << CalcdTestServer::rawStlRequest(part, 0, 5, 300, 1)
                                  << QStringLiteral("cutter of 0 mm is out of range") << true;
    QTest::newRow("STL cutter -3") << CalcdTestServer::rawStlRequest(part, -3, 5, 300, 1)
                                   << QStringLiteral("cutter of -3 mm is out of range") << true;
    QTest::newRow("STL cutter 1000") << CalcdTestServer::rawStlRequest(part, 1000, 5, 300, 1)
                                     << QStringLiteral("cutter of 1000 mm is out of range") << true;
    QTest::newRow("STL garbage") << CalcdTestServer::rawStlRequest(QByteArray(5000, '\xa7'), 3, 5, 300, 1) << QString() << false;
}

void TestCalcdStl::refusesInsteadOfChangingTheCut()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, refusal);
    QFETCH(bool, answered);
    const QString answer = QString::fromUtf8(server->ask(request));
    QCOMPARE(!answer.isEmpty(), answered);
    QCOMPARE(CalcRefusal::reason(answer), refusal);
    if (!refusal.isEmpty())
        QCOMPARE(answer, CalcRefusal::line(refusal) + QLatin1Char('\n'));
}

QTEST_GUILESS_MAIN(TestCalcdStl)
#include "tst_calcdstl.moc"
