#include "link/grbltexts.h"

#include <QtTest>

// The last entry of each table and the numbers beyond; the texts the reader composes (alarm 0, 1 and
// 10, errors 3 and 22) are compared in tst_serialport.
class TestGrblTexts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookUp_data()
    {
        QTest::addColumn<bool>("alarm");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("alarm 9") << true << 9 << "Homing fail. Could not find limit switch within search distance. Defined as 1.5 * max_travel on search and 5 * pulloff on locate phases.";
        QTest::newRow("alarm -1") << true << -1 << "-1";
        QTest::newRow("no error") << false << 0 << "no error";
        QTest::newRow("error 18") << false << 18 << "Not Error for this number";
        QTest::newRow("error 19") << false << 19 << "Not Error for this number";
        QTest::newRow("error 27") << false << 27 << "N line number value is not within the valid range of 1 - 9;999;999.";
        QTest::newRow("error 38") << false << 38 << "An invalid tool number sent to the parser";
        QTest::newRow("error 39") << false << 39 << "39";
        QTest::newRow("error -1") << false << -1 << "-1";
    }
    void lookUp()
    {
        QFETCH(bool, alarm);
        QFETCH(int, number);
        QFETCH(QString, text);
        QCOMPARE(alarm ? GrblTexts::alarmText(number) : GrblTexts::errorText(number), text);
    }
};

QTEST_APPLESS_MAIN(TestGrblTexts)
#include "tst_grbltexts.moc"
