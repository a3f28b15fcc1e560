#include "tests/calcd/calcdtestserver.h"
#include "tests/modes/pcbpage.h"

#include <QLineEdit>

#include <cmath>
#include <set>

Q_DECLARE_METATYPE(GrblSimulator::Surface)

namespace {
const QString Protel = QStringLiteral("/usr/share/doc/gerbv/examples/protel-pnp/SE_SG_IF_V2.");
// Where the board's design origin lies on the table.
const QPointF Origin(20, 10);

double xyLength(const SimulatedMotion &motion)
{
    return std::hypot(motion.end[0] - motion.start[0], motion.end[1] - motion.start[1]);
}

// Every depth a layer's program asks for: the Z of its feed moves below the surface.
std::set<double> programmedDepths(const PcbProgram &program)
{
    std::set<double> depths;
    for (const GcodeLine &line : program.lines()) {
        if (line.has(QLatin1Char('Z')) && line.value(QLatin1Char('Z')) < 0)
            depths.insert(-double(line.value(QLatin1Char('Z'))));
    }
    return depths;
}

double nearest(const std::set<double> &depths, double depth)
{
    double best = 1e9;
    for (const double d : depths)
        best = std::abs(depth - d) < std::abs(depth - best) ? d : best;
    return best;
}

// The simulated bowed board is 100 x 80 mm, smaller than protel-pnp: its edge, where it meets the
// level table with a break in slope, runs under the design. A grid of 10 mm cannot follow a break:
// cuts within a grid cell's diagonal of it are reported apart.
struct BowEdge {
    QRectF board;

    bool isNear(double x, double y) const
    {
        constexpr double cellDiagonal = 14.0;
        const double dx = std::max({board.left() - x, x - board.right(), 0.0});
        const double dy = std::max({board.top() - y, y - board.bottom(), 0.0});
        const double inside = std::min({x - board.left(), board.right() - x, y - board.top(), board.bottom() - y});
        return (dx > 0 || dy > 0 ? std::hypot(dx, dy) : inside) < cellDiagonal;
    }
};

// Where the simulated machine's feed moves went below the simulated surface: the worst difference,
// sampled every 0.1 mm, between the depth under the surface and the programmed depth the move is
// nearest to. Moves along X or Y are checked over their whole length, plunges at their end.
struct DepthReport {
    struct Worst {
        double error = 0;
        QString where;
    };
    Worst away;
    Worst nearEdge;
    int cuts = 0;

    void check(const SimulatedMotion &motion, const ProbeSurface &surface, const std::set<double> &depths,
               const BowEdge *edge)
    {
        const auto depthAt = [&](double f) {
            return surface.heightAt(motion.start[0] + (motion.end[0] - motion.start[0]) * f,
                                    motion.start[1] + (motion.end[1] - motion.start[1]) * f)
                   - (motion.start[2] + (motion.end[2] - motion.start[2]) * f);
        };
        const double length = xyLength(motion);
        const int samples = int(std::ceil(length / 0.1));
        const double programmed = nearest(depths, depthAt(length > 0 ? 0.0 : 1.0));
        if (depthAt(1.0) <= 0 && depthAt(0.0) <= 0)
            return;
        ++cuts;
        for (int i = length > 0 ? 0 : samples; i <= samples; ++i) {
            const double f = samples ? double(i) / samples : 1.0;
            const double x = motion.start[0] + (motion.end[0] - motion.start[0]) * f;
            const double y = motion.start[1] + (motion.end[1] - motion.start[1]) * f;
            Worst &worst = edge && edge->isNear(x, y) ? nearEdge : away;
            const double error = std::abs(depthAt(f) - programmed);
            if (error > worst.error)
                worst = {error, QStringLiteral("%1 at X%2 Y%3").arg(motion.line).arg(x).arg(y)};
        }
    }
};

} // namespace

// The whole job, end to end: protel-pnp's four files through the real korvex-calcd, milled on the
// simulated machine over a tilted, a bowed and a bumpy board, the operator pressing play at each
// tool change. Judged from what the machine did: the depth of every cut under the simulated
// surface and the spindle during cuts.
class TstPcbMachining : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(calcd.isRunning()); }
    void millsBoard_data();
    void millsBoard();

private:
    CalcdTestServer calcd;
};

void TstPcbMachining::millsBoard_data()
{
    QTest::addColumn<GrblSimulator::Surface>("surface");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("tilted") << GrblSimulator::Surface::Tilted << 0.005;
    // Three-corner planes over cells of up to 10 mm leave up to 6 micrometres where the bow curves
    // in both directions at once (towards its corners); measured 0.0060 mm.
    QTest::newRow("bowed") << GrblSimulator::Surface::Bowed << 0.0065;
    // A ripple of +-0.05 mm with 30 and 40 mm periods, probed every 9.7 mm: reported, held loosely.
    QTest::newRow("bumpy") << GrblSimulator::Surface::Bumpy << 0.05;
}

void TstPcbMachining::millsBoard()
{
    QFETCH(GrblSimulator::Surface, surface);
    QFETCH(double, tolerance);
    PcbPage page(calcd.port());
    // The board lies with its design origin at X20 Y10; the simulated bow sits under its middle.
    GrblSimulator::Options options;
    options.surface = surface;
    options.bowCentreX = Origin.x() + 48;
    options.bowCentreY = Origin.y() + 80;
    // A Z axis fine enough for depths of micrometres (1600 steps per mm), X and Y at 800.
    options.settings = {{100, 800}, {101, 800}, {102, 1600}};
    QVERIFY(page.connectToSimulator(options));
    for (const char *field : {"pcb_position_x", "pcb_position_y"}) {
        auto *edit = page.main.page()->findChild<QLineEdit *>(QLatin1String(field));
        edit->selectAll();
        QTest::keyClicks(edit, QString::number(field[13] == 'x' ? Origin.x() : Origin.y()));
    }
    const QList<QPair<PcbJob::Layer, QString>> files{{PcbJob::Bottom, "GBL"}, {PcbJob::Top, "GTL"},
                                                       {PcbJob::Drill, "TXT"}, {PcbJob::Outline, "GM1"}};
    for (const auto &file : files) {
        QVERIFY(page.load(file.first, Protel + file.second));
        QCOMPARE(page.label(file.first), QStringLiteral("Done."));
    }
    QVERIFY(page.run(1500000));
    GrblSimulator *simulator = page.main.simulator.get();
    QCOMPARE(simulator->cutsWithSpindleStopped(), 0);
    QCOMPARE(page.prompts.first(), PcbPage::Prompt("Change to engraving bit", 0));
    QCOMPARE(page.prompts.last(), PcbPage::Prompt("Change to 2mm outline milling cutter", 1));
    QCOMPARE(page.prompts.count(PcbPage::Prompt("Change to engraving bit", 0)), 2);

    std::set<double> depths;
    for (const auto &file : files) {
        const std::set<double> layer = programmedDepths(page.mode()->layer(file.first));
        depths.insert(layer.cbegin(), layer.cend());
    }
    // The flip frame, after the second tool length probe, is not compensated.
    const ProbeSurface measured = simulator->surface();
    const BowEdge bowEdge{QRectF(options.bowCentreX - 50, options.bowCentreY - 40, 100, 80)};
    DepthReport report;
    int toolProbes = 0;
    for (const SimulatedMotion &motion : simulator->motions()) {
        toolProbes += motion.kind == SimulatedMotion::Kind::Probe && motion.line.startsWith(QLatin1String("G38.2 Z-65"));
        if (motion.kind == SimulatedMotion::Kind::Feed && toolProbes != 2)
            report.check(motion, measured, depths, surface == GrblSimulator::Surface::Bowed ? &bowEdge : nullptr);
    }
    qInfo("worst depth error over %d cuts: %.4f mm (%s)", report.cuts, report.away.error, qPrintable(report.away.where));
    QVERIFY2(report.away.error <= tolerance, qPrintable(report.away.where));
    if (surface == GrblSimulator::Surface::Bowed) {
        qInfo("near the simulated board's edge: %.4f mm (%s)", report.nearEdge.error, qPrintable(report.nearEdge.where));
        QVERIFY2(report.nearEdge.error <= 0.03, qPrintable(report.nearEdge.where));
    }
}

QTEST_MAIN(TstPcbMachining)
#include "tst_pcbmachining.moc"
