#include <QRandomGenerator>
#include <QtTest>

#include "toolpath/gcodeline.h"

using Words = QMap<QString, float>;
Q_DECLARE_METATYPE(Words)

namespace {
// The splitting rule written out plainly, character by character, to check the fast parser against.
// N and I split words, so no word ever reads "nan" or "inf" and the maps compare without NaNs.
Words referenceWords(const QString &text, QString *command)
{
    QStringList words;
    QString pending;
    bool comment = false;
    for (const QChar c : text.toUpper()) {
        pending = pending.trimmed();
        comment = comment || c == QLatin1Char('(');
        if (!pending.isEmpty() && QStringLiteral("FGIJKMNPRXYZ").contains(c)) {
            words << pending;
            pending.clear();
        }
        if (!comment)
            pending += c;
    }
    if (!pending.isEmpty())
        words << pending;
    *command = words.value(0);
    Words map;
    for (const QString &word : qAsConst(words)) {
        bool ok = false;
        const float value = word.mid(1).toFloat(&ok);
        map.insert(word.left(1), ok ? value : 0.0f);
    }
    return map;
}
} // namespace

class TestGcodeLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parses_data();
    void parses();
    void agreesWithPlainSplitting();
    void plainLines_data();
    void plainLines();
};

void TestGcodeLine::parses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("command");
    QTest::addColumn<Words>("words");

    QTest::newRow("empty") << "" << "" << Words{};
    QTest::newRow("comment only") << "(MAX Z 5)" << "" << Words{};
    QTest::newRow("lower case") << "g1 x1.5 y2" << "G1" << Words{{"G", 1}, {"X", 1.5f}, {"Y", 2}};
    QTest::newRow("no spaces") << "G1X10Y-5.5" << "G1" << Words{{"G", 1}, {"X", 10}, {"Y", -5.5f}};
    QTest::newRow("last occurrence wins") << "G1 X1 X2" << "G1" << Words{{"G", 1}, {"X", 2}};
    QTest::newRow("arc") << "G2 X10 Y0 I5 J0" << "G2" << Words{{"G", 2}, {"X", 10}, {"Y", 0}, {"I", 5}, {"J", 0}};
    QTest::newRow("line number first") << "N10 G1 X1" << "N10" << Words{{"N", 10}, {"G", 1}, {"X", 1}};
    QTest::newRow("modal continuation") << "X5" << "X5" << Words{{"X", 5}};
    QTest::newRow("close paren keeps comment") << "G0 (a) X5" << "G0" << Words{{"G", 0}};
    QTest::newRow("spindle joins M word") << "M3 S12000" << "M3S12000" << Words{{"M", 0}};
    QTest::newRow("other first letter") << "T1 M6" << "T1" << Words{{"T", 1}, {"M", 6}};
    QTest::newRow("G92") << "G92 X0 Y0" << "G92" << Words{{"G", 92}, {"X", 0}, {"Y", 0}};
    QTest::newRow("out of float range") << "X1e39 Y-1e39" << "X1E39" << Words{{"X", 0}, {"Y", 0}};
    QTest::newRow("sixteen digits") << "X1234567890.123456" << "X1234567890.123456" << Words{{"X", 1234567890.123456f}};
    QTest::newRow("hundred thousand digits") << "G1 X" + QString(100000, QLatin1Char('9')) << "G1" << Words{{"G", 1}, {"X", 0}};
    // N and I are address letters, so "nan" and "inf" never reach the number conversion whole.
    QTest::newRow("not a number") << "G1 XNAN Yinf Z3e38" << "G1"
                                  << Words{{"G", 1}, {"X", 0}, {"N", 0}, {"Y", 0}, {"I", 0}, {"F", 0}, {"Z", 3e38f}};
    QTest::newRow("non-ASCII comment") << "G1 X3 (Fräser ß)" << "G1" << Words{{"G", 1}, {"X", 3}};
}

void TestGcodeLine::parses()
{
    QFETCH(QString, text);
    QFETCH(QString, command);
    QFETCH(Words, words);

    const GcodeLine line(text);
    QCOMPARE(line.text(), text);
    QCOMPARE(line.command(), command);
    QCOMPARE(line.words(), words);
    for (auto it = words.begin(); it != words.end(); ++it) {
        QVERIFY(line.has(it.key()));
        QCOMPARE(line.value(it.key()), it.value());
    }
    QVERIFY(!line.has(QStringLiteral("XY")) && line.value(QStringLiteral("XY")) == 0.0f);
}

// Random lines built from G-code's own alphabet, blanks, signs, points, exponents, comment marks,
// control characters and a ligature whose upper case is two letters ("FF").
void TestGcodeLine::agreesWithPlainSplitting()
{
    QRandomGenerator random(20261205);
    const QString alphabet = QStringLiteral("GXYZIJKFMNPRSTgxyz0123456789.-+ \t()eE;%ß\x01") + QChar(0xfb00);
    for (int round = 0; round < 5000; ++round) {
        QString text;
        for (int i = random.bounded(24); i > 0; --i)
            text += alphabet.at(random.bounded(alphabet.size()));
        QString expectedCommand;
        const Words expected = referenceWords(text, &expectedCommand);
        const GcodeLine line(text);
        QVERIFY2(line.words() == expected, qPrintable(text));
        QCOMPARE(line.command(), expectedCommand);
    }
}

void TestGcodeLine::plainLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("plain");

    QTest::newRow("words and a comment") << "N10 g1 X-1.5 Y.5 (cut)" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("several G words") << "G0 G90 X10" << false;
    QTest::newRow("letter twice") << "G1 X1 X2" << false;
    QTest::newRow("G10 L20") << "G10 L20 P1 X0" << false;
    QTest::newRow("spindle glued on") << "G1 X5 S1000" << false;
    QTest::newRow("other first letter") << "T1" << false;
    QTest::newRow("exponent") << "G0 X1e2" << false;
    QTest::newRow("semicolon comment") << "G0 X1 ; rapid" << false;
}

void TestGcodeLine::plainLines()
{
    QFETCH(QString, text);
    QFETCH(bool, plain);
    QCOMPARE(GcodeLine(text).isPlain(), plain);
}

QTEST_APPLESS_MAIN(TestGcodeLine)
#include "tst_gcodeline.moc"
