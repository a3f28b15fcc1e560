#include <QtTest>

#include "preview/layoutdisplayconverter.h"

namespace {
// Three lines the conversion drops, as a layout program's header would be.
const QStringList Header{"G21", "G90", "G94"};

QStringList convert(const QStringList &program)
{
    QVector<GcodeLine> lines;
    for (const QString &text : program)
        lines << GcodeLine(text);
    LayoutDisplayConverter converter;
    converter.convert(lines);
    return converter.output();
}
} // namespace

class TestLayoutDisplayConverter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void converts_data();
    void converts();
    void longestMoveStaysBounded();
};

void TestLayoutDisplayConverter::converts_data()
{
    QTest::addColumn<QStringList>("program");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("two lines vanish") << QStringList{"G0 X1", "G1 X2"} << QStringList{"G0 Z15"};
    QTest::newRow("empty program") << QStringList{} << QStringList{"G0 Z15"};
    QTest::newRow("unset axes are left out")
        << Header + QStringList{"G0 X1 Y2", "G1 X4"} << QStringList{"G0 Z15", "G0 X 1Y 2", "G1 X 4Y 2"};
    QTest::newRow("12 mm feed in three pieces")
        << Header + QStringList{"G0 X0 Y0 Z0", "G1 X12"}
        << QStringList{"G0 Z15", "G0 X 0Y 0Z 0", "G1 X 5Y 0Z 0", "G1 X 10Y 0Z 0", "G1 X 12Y 0Z 0"};
    QTest::newRow("exactly 5 mm stays whole")
        << Header + QStringList{"G0 X0 Y0 Z0", "G1 Y5"} << QStringList{"G0 Z15", "G0 X 0Y 0Z 0", "G1 X 0Y 5Z 0"};
    QTest::newRow("modal continuation is split too")
        << Header + QStringList{"G1 X0 Y0 Z-0.1", "Y6"}
        << QStringList{"G0 Z15", "G1 X 0Y 0Z -0.1", "G1 X 0Y 5Z -0.1", "G1 X 0Y 6Z -0.1"};
    QTest::newRow("out of reach becomes 0")
        << Header + QStringList{"G0 X600 Y-501 Z3"} << QStringList{"G0 Z15", "G0 X 0Y 0Z 3"};
    QTest::newRow("copied unchanged")
        << Header + QStringList{"F300", "M3", "G21", "X5 F100", "G4 P1"}
        << QStringList{"G0 Z15", "F300", "M3", "G21", "X5 F100", "G4 P1"};
    QTest::newRow("arcs are copied, their end followed")
        << Header + QStringList{"G0 X0 Y0", "G2 X5 Y5 I5", "X5 Y5", "G1 X5"}
        << QStringList{"G0 Z15", "G0 X 0Y 0", "G2 X5 Y5 I5", "X5 Y5", "G1 X 5Y 5"};
    QTest::newRow("coordinates before a motion word")
        << Header + QStringList{"X3"} << QStringList{"G0 Z15", "X3"};
}

void TestLayoutDisplayConverter::converts()
{
    QFETCH(QStringList, program);
    QFETCH(QStringList, expected);
    QCOMPARE(convert(program), expected);
}

// The longest move the range allows, corner to corner (1732 mm), is cut into 347 lines; a number
// beyond the float range reads as 0, so the last move runs 500 mm back to X 0 in 100 lines.
void TestLayoutDisplayConverter::longestMoveStaysBounded()
{
    const QStringList output = convert(Header + QStringList{"G0 X-500 Y-500 Z-500", "G1 X500 Y500 Z500", "G1 X1e39"});
    QCOMPARE(output.size(), 1 + 1 + 347 + 100);
    QCOMPARE(output.at(2 + 346), QStringLiteral("G1 X 500Y 500Z 500"));
    QCOMPARE(output.last(), QStringLiteral("G1 X 0Y 500Z 500"));
}

QTEST_APPLESS_MAIN(TestLayoutDisplayConverter)
#include "tst_layoutdisplayconverter.moc"
