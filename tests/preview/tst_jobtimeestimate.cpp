#include <QtTest>

#include <cmath>

#include "preview/jobtimeestimate.h"
#include "tests/preview/linesender.h"
#include "tests/preview/programfile.h"

// The run time estimated from the program against a closed form and against the time the simulated
// controller takes.
namespace {
// A pocket as CAM writes it: short feed moves and quarter arcs round a spiral, a plunge per pass.
QStringList pocketProgram()
{
    QStringList program{"G21 G90 G94", "G0 Z5", "G0 X0 Y0", "M3 S10000", "G1 Z-1 F200", "F1200"};
    for (int ring = 1; ring <= 8; ++ring) {
        const double r = 2.0 * ring;
        program << QStringLiteral("G1 X%1 Y0").arg(r);
        for (int step = 1; step <= 20; ++step) {
            const double angle = step * M_PI / 40;
            program << QStringLiteral("G1 X%1 Y%2").arg(r * std::cos(angle), 0, 'f', 4).arg(r * std::sin(angle), 0, 'f', 4);
        }
        program << QStringLiteral("G3 X%1 Y0 R%2").arg(-r).arg(r) << QStringLiteral("G3 X%1 Y0 I%2 J0").arg(r).arg(r);
    }
    return program << "G0 Z5" << "M5" << "G0 X0 Y0";
}
} // namespace

class TestJobTimeEstimate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void oneMoveAndADwell();
    void onlyTheLatestEstimateCounts();
    void matchesTheSimulator();
};

// 100 mm faster than the factory machine's 500 mm/min allow: at 10 mm/s^2, v / a seconds to speed
// up and as long to slow down, covering v^2 / a millimetres; then a dwell. Slower axes are taken
// up as "$$" reports them.
void TestJobTimeEstimate::oneMoveAndADwell()
{
    JobTimeEstimate estimate;
    QSignalSpy estimated(&estimate, &JobTimeEstimate::estimated);
    std::shared_ptr<const GcodeProgram> program = programOf({"G1 X100 F600", "", "G4 P2.5"});
    estimate.estimate(program);
    QVERIFY(estimated.wait());
    for (const double rate : {500.0, 250.0}) {
        const double v = rate / 60.0;
        QVERIFY(qAbs(estimate.totalSeconds() - (2 * v / 10 + (100 - v * v / 10) / v + 2.5)) < 1e-3);
        QCOMPARE(estimate.remainingSeconds(1), 2.5);
        QCOMPARE(estimate.remainingSeconds(2), 2.5);
        QCOMPARE(estimate.remainingSeconds(3), 0.0);
        // Estimated again only when the value changes.
        estimate.setMachineSetting(QStringLiteral("$110"), QStringLiteral("250.000"));
        QCOMPARE(estimated.wait(rate == 250.0 ? 200 : 5000), rate != 250.0);
    }
    // The estimate does not keep the program alive; without it new settings estimate nothing.
    const std::weak_ptr<const GcodeProgram> kept = program;
    program.reset();
    QVERIFY(kept.expired());
    estimate.setMachineSetting(QStringLiteral("$110"), QStringLiteral("500"));
    QVERIFY(!estimated.wait(200));
    QVERIFY(estimate.isReady());
    QCOMPARE(JobTimeEstimate::clockText(3725.4), QStringLiteral("1:02:05"));
    QCOMPARE(JobTimeEstimate::clockText(65), QStringLiteral("1:05"));
}

// 60 mm at 600 mm/min on a machine as fast as that: 6 s plus 1 s of speeding up and slowing down.
void TestJobTimeEstimate::onlyTheLatestEstimateCounts()
{
    JobTimeEstimate estimate;
    estimate.setMachineSetting(QStringLiteral("$110"), QStringLiteral("600"));
    QSignalSpy estimated(&estimate, &JobTimeEstimate::estimated);
    QStringList longer;
    for (int line = 0; line < 20000; ++line)
        longer << QStringLiteral("G1 X%1 F600").arg(line % 2 ? 100 : 0);
    const auto superseded = programOf(longer);
    const auto latest = programOf({"G1 X60 F600"});
    estimate.estimate(superseded);
    estimate.estimate(latest);
    QVERIFY(estimated.wait());
    QVERIFY(!estimated.wait(300));
    QCOMPARE(estimated.size(), 1);
    QVERIFY(qAbs(estimate.totalSeconds() - 7.0) < 1e-3);

    estimate.estimate(superseded);
    estimate.clear();
    QVERIFY(!estimated.wait(300));
    QVERIFY(!estimate.isReady());
    QCOMPARE(estimate.totalSeconds(), 0.0);
}

// The simulator runs at four times real speed with a quicker machine than the factory one, so the
// corners and short moves of the pocket are dominated by acceleration; the estimator learns the
// settings from the simulator's own "$$".
void TestJobTimeEstimate::matchesTheSimulator()
{
    constexpr double TimeScale = 0.25;
    LineSender sender;
    const auto simulator = startSimulator(TimeScale, &sender);
    QVERIFY(simulator);
    for (const char *setting : {"$110=3000", "$111=3000", "$112=1000", "$120=100", "$121=100", "$122=50"})
        QCOMPARE(sender.answer(QString::fromLatin1(setting)), QStringLiteral("ok"));
    JobTimeEstimate estimate;
    const QRegularExpression reported(QStringLiteral("^(\\$\\d+)=(.*)$"));
    for (const QString &line : sender.send(QStringLiteral("$$"))) {
        const QRegularExpressionMatch match = reported.match(line);
        if (match.hasMatch())
            estimate.setMachineSetting(match.captured(1), match.captured(2));
    }
    QCOMPARE(estimate.limits().acceleration[2], 50.0);
    QSignalSpy estimated(&estimate, &JobTimeEstimate::estimated);
    const QStringList program = pocketProgram();
    estimate.estimate(programOf(program));
    QVERIFY(estimated.wait(5000));

    QElapsedTimer clock;
    clock.start();
    for (const QString &line : program)
        QCOMPARE(sender.answer(line), QStringLiteral("ok"));
    QVERIFY(QTest::qWaitFor([&] { return sender.status().startsWith(QStringLiteral("<Idle")); }, 60000));
    const double simulated = clock.elapsed() / 1000.0 / TimeScale;
    const double error = (estimate.totalSeconds() - simulated) / simulated;
    qInfo("pocket of %d lines: estimated %.2f s, simulator %.2f s, error %+.1f %%", program.size(),
          estimate.totalSeconds(), simulated, 100.0 * error);
    QVERIFY(std::fabs(error) < 0.05);
    QVERIFY(estimate.remainingSeconds(program.size() / 2) < estimate.totalSeconds() * 0.75);
    QCOMPARE(estimate.remainingSeconds(program.size()), 0.0);
}

QTEST_MAIN(TestJobTimeEstimate)
#include "tst_jobtimeestimate.moc"
