#include "link/probemessage.h"
#include "modes/pcbjob.h"
#include "tests/calcd/calcdtestserver.h"

#include <QHash>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

namespace {
const QString Protel = QStringLiteral("/usr/share/doc/gerbv/examples/protel-pnp/SE_SG_IF_V2.");

// Where a program's feed moves below Z 0 end: those along X or Y, and the plunges straight down.
struct FeedEnds {
    explicit FeedEnds(const QStringList &program)
    {
        int motion = 0;
        QPointF at;
        float z = 0;
        for (const QString &text : program) {
            const GcodeLine line(text);
            if (text.startsWith(QLatin1String("G92")))
                continue;
            if (line.has(QLatin1Char('G')))
                motion = int(line.value(QLatin1Char('G')));
            const QPointF to(line.has(QLatin1Char('X')) ? line.value(QLatin1Char('X')) : at.x(),
                             line.has(QLatin1Char('Y')) ? line.value(QLatin1Char('Y')) : at.y());
            z = line.has(QLatin1Char('Z')) ? line.value(QLatin1Char('Z')) : z;
            if (motion == 1 && z < 0)
                (to != at ? cuts : plunges) << to;
            at = to;
        }
    }

    QVector<QPointF> cuts;
    QVector<QPointF> plunges;
};

// The worst distance from any of the points to the nearest target, looked up by millimetre cells;
// 1e9 when a point has none within a millimetre.
double worstMiss(const QVector<QPointF> &points, const QVector<QPointF> &targets)
{
    const auto cell = [](double x, double y) { return qint64(std::floor(x)) * 100000 + qint64(std::floor(y)); };
    QHash<qint64, QVector<QPointF>> cells;
    for (const QPointF &t : targets)
        cells[cell(t.x(), t.y())] << t;
    double worst = 0;
    for (const QPointF &p : points) {
        double nearest = 1e9;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                for (const QPointF &t : cells.value(cell(p.x() + dx, p.y() + dy)))
                    nearest = std::min(nearest, std::hypot(p.x() - t.x(), p.y() - t.y()));
        worst = std::max(worst, nearest);
    }
    return worst;
}

// The texts of a pass's messages, whose probes answered from a flat board at machine Z -20 before.
QStringList composed(const std::function<QList<SerialMessage *>()> &stages, PcbJob *job)
{
    for (const QList<SerialMessage *> &messages : {job->startPass(), job->probing()}) {
        for (SerialMessage *message : messages) {
            if (auto *probe = qobject_cast<ProbeMessage *>(message))
                probe->handleResponse(QStringLiteral("[PRB:0.000,0.000,-20.000:1]"));
        }
        qDeleteAll(messages);
    }
    QStringList texts;
    const QList<SerialMessage *> messages = stages();
    for (const SerialMessage *message : messages)
        texts << message->content();
    qDeleteAll(messages);
    return texts;
}
} // namespace

// Two-sided boards: the bottom copper, milled first and turned over in the flip frame, lands where
// the design has it under the top side, whatever layers are loaded. The oracle is the server's own
// unmirrored bottom copper (the bottom file asked for as a top layout) and the frame as milled.
class TstPcbRegistration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bottomMeetsTopAfterTurning_data();
    void bottomMeetsTopAfterTurning();

private:
    PcbProgram answer(const QString &part, double value, const QString &suffix);

    CalcdTestServer server;
    PcbJob::Layers protel;
    PcbProgram bottomAsDesigned;
};

PcbProgram TstPcbRegistration::answer(const QString &part, double value, const QString &suffix)
{
    const QByteArray request = CalcdTestServer::pcbRequest(part, value, CalcdTestServer::fileText(Protel + suffix));
    return PcbProgram::fromAnswer(QString::fromUtf8(server.ask(request, 240000)));
}

void TstPcbRegistration::initTestCase()
{
    QVERIFY(server.isRunning());
    protel[PcbJob::Top] = answer(QStringLiteral("Layout"), 1.6, QStringLiteral("GTL"));
    protel[PcbJob::Bottom] = answer(QStringLiteral("BotLayout"), 1.6, QStringLiteral("GBL"));
    protel[PcbJob::Drill] = answer(QStringLiteral("Drill"), 2.0, QStringLiteral("TXT"));
    protel[PcbJob::Outline] = answer(QStringLiteral("Outline"), 1.8, QStringLiteral("GM1"));
    bottomAsDesigned = answer(QStringLiteral("Layout"), 1.6, QStringLiteral("GBL"));
    for (const PcbProgram &layer : protel)
        QVERIFY(!layer.isEmpty());
    QVERIFY(!bottomAsDesigned.isEmpty());
}

void TstPcbRegistration::bottomMeetsTopAfterTurning_data()
{
    QTest::addColumn<bool>("top");
    QTest::addColumn<bool>("drill");
    QTest::addColumn<bool>("outline");
    for (int mask = 0; mask < 8; ++mask) {
        QTest::addRow("bottom%s%s%s", mask & 1 ? ", top" : "", mask & 2 ? ", drill" : "", mask & 4 ? ", outline" : "")
            << bool(mask & 1) << bool(mask & 2) << bool(mask & 4);
    }
}

void TstPcbRegistration::bottomMeetsTopAfterTurning()
{
    QFETCH(bool, top);
    QFETCH(bool, drill);
    QFETCH(bool, outline);
    PcbJob::Layers layers;
    layers[PcbJob::Bottom] = protel[PcbJob::Bottom];
    layers[PcbJob::Top] = top ? protel[PcbJob::Top] : PcbProgram();
    layers[PcbJob::Drill] = drill ? protel[PcbJob::Drill] : PcbProgram();
    layers[PcbJob::Outline] = outline ? protel[PcbJob::Outline] : PcbProgram();
    PcbJobSettings settings;
    settings.outlineDiameter = 2.0f;
    settings.outlineDepthPerPass = 0.5f;
    settings.boardThickness = 1.6f;
    PcbJob job(layers, settings, QVector3D(20, 10, 0), nullptr);
    const QStringList bottomPass = composed([&job] { return job.stages(QStringLiteral("bot")); }, &job);

    // The board turns about the middle of the frame as milled: the lines from the frame's first move on.
    const int frame = bottomPass.indexOf(QRegularExpression(QStringLiteral("^G0 X.* Z30.000000\n$")));
    QVERIFY(frame > 0);
    const QVector<QPointF> frameCuts = FeedEnds(bottomPass.mid(frame)).cuts;
    const auto [left, right] = std::minmax_element(frameCuts.cbegin(), frameCuts.cend(),
                                                   [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    const double axis = (left->x() + right->x()) / 2;
    QVector<QPointF> turned;
    for (const QPointF &p : FeedEnds(bottomPass.mid(0, frame)).cuts)
        turned << QPointF(2 * axis - p.x(), p.y());
    const double miss = worstMiss(FeedEnds(bottomAsDesigned.texts()).cuts, turned);
    QVERIFY2(miss < 0.01, qPrintable(QString::number(miss)));

    // The top pass on the turned board mills and drills where the design has it.
    job.finishBottomPass();
    const FeedEnds topPass(composed([&job] { return job.stages(QStringLiteral("top")); }, &job));
    if (top)
        QVERIFY(worstMiss(FeedEnds(protel[PcbJob::Top].texts()).cuts, topPass.cuts) < 0.01);
    if (drill)
        QVERIFY(worstMiss(FeedEnds(protel[PcbJob::Drill].texts()).plunges, topPass.plunges) < 0.01);
}

QTEST_MAIN(TstPcbRegistration)
#include "tst_pcbregistration.moc"
