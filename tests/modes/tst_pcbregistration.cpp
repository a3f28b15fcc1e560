#include "link/probemessage.h"
#include "modes/pcbjob.h"
#include "modes/probegrid.h"
#include "tests/calcd/calcdtestserver.h"

#include <QHash>
#include <QLineF>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>

namespace {
const QString Protel = QStringLiteral("/usr/share/doc/gerbv/examples/protel-pnp/SE_SG_IF_V2.");

// The cuts of a program (feed moves along X or Y below Z 0), bucketed by millimetre for lookups,
// and its plunges (feed moves straight down below Z 0).
class Cuts
{
public:
    explicit Cuts(const QStringList &program)
    {
        QPointF at;
        int motion = 0;
        float z = 0;
        for (const QString &text : program) {
            const GcodeLine line(text);
            if (line.has(QLatin1Char('G')))
                motion = int(line.value(QLatin1Char('G')));
            const QPointF to(line.has(QLatin1Char('X')) ? line.value(QLatin1Char('X')) : at.x(),
                             line.has(QLatin1Char('Y')) ? line.value(QLatin1Char('Y')) : at.y());
            if (line.has(QLatin1Char('Z')))
                z = line.value(QLatin1Char('Z'));
            if (motion == 1 && z < 0 && !text.startsWith(QLatin1String("G92"))) {
                if (to != at)
                    add(QLineF(at, to));
                else
                    plunges << to;
            }
            at = to;
        }
    }

    QVector<QPointF> ends() const
    {
        QVector<QPointF> points;
        for (const QLineF &cut : m_cuts)
            points << cut.p1() << cut.p2();
        return points;
    }

    double distanceTo(const QPointF &p) const
    {
        double nearest = 1e9;
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                for (const int index : m_buckets.value(key(p.x() + dx, p.y() + dy)))
                    nearest = std::min(nearest, distance(m_cuts.at(index), p));
            }
        }
        return nearest;
    }

    QVector<QPointF> plunges;

private:
    static qint64 key(double x, double y) { return qint64(std::floor(x)) * 100000 + qint64(std::floor(y)); }

    static double distance(const QLineF &cut, const QPointF &p)
    {
        const QPointF d = cut.p2() - cut.p1();
        const double t = std::clamp(QPointF::dotProduct(p - cut.p1(), d) / QPointF::dotProduct(d, d), 0.0, 1.0);
        const QPointF nearest = cut.p1() + d * t;
        return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
    }

    // Each cut is filed under every millimetre cell along it.
    void add(const QLineF &cut)
    {
        m_cuts << cut;
        const int steps = int(std::ceil(cut.length())) + 1;
        for (int i = 0; i <= steps; ++i) {
            const QPointF p = cut.pointAt(double(i) / steps);
            QVector<int> &bucket = m_buckets[key(p.x(), p.y())];
            if (bucket.isEmpty() || bucket.last() != m_cuts.size() - 1)
                bucket << m_cuts.size() - 1;
        }
    }

    QVector<QLineF> m_cuts;
    QHash<qint64, QVector<int>> m_buckets;
};

QStringList contents(const QList<SerialMessage *> &messages)
{
    QStringList texts;
    for (const SerialMessage *message : messages)
        texts << message->content();
    return texts;
}

// The probes of a pass answer from a flat board at machine Z -20.
QList<SerialMessage *> measured(const QList<SerialMessage *> &messages)
{
    for (SerialMessage *message : messages) {
        if (auto *probe = qobject_cast<ProbeMessage *>(message))
            probe->handleResponse(QStringLiteral("[PRB:0.000,0.000,-20.000:1]"));
    }
    return messages;
}

// The worst distance of any point from the cuts; -1 when there are no points.
double worstDistance(const QVector<QPointF> &points, const Cuts &cuts)
{
    double worst = points.isEmpty() ? -1 : 0;
    for (const QPointF &p : points)
        worst = std::max(worst, cuts.distanceTo(p));
    return worst;
}
} // namespace

// Two-sided boards: the bottom copper, milled first and turned over in the flip frame, lands
// where the design has it under the top side, whatever layers are loaded. The oracle is the
// server's own unmirrored bottom copper (the bottom file asked for as a top layout) and the
// frame the machine actually mills.
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
    if (top)
        layers[PcbJob::Top] = protel[PcbJob::Top];
    if (drill)
        layers[PcbJob::Drill] = protel[PcbJob::Drill];
    if (outline)
        layers[PcbJob::Outline] = protel[PcbJob::Outline];
    PcbJobSettings settings;
    settings.outlineDiameter = 2.0f;
    settings.outlineDepthPerPass = 0.5f;
    settings.boardThickness = 1.6f;
    PcbJob job(layers, settings, QVector3D(20, 10, 0), nullptr);
    qDeleteAll(measured(job.startPass()));
    qDeleteAll(measured(job.probing()));
    const QList<SerialMessage *> bottomPass = job.stages(QStringLiteral("bot"));
    const QStringList milled = contents(bottomPass);
    qDeleteAll(bottomPass);

    // The board turns about the middle of the frame as milled: the frame's cuts are the lines
    // after the frame's feed line.
    const int frameStart = milled.indexOf(QRegularExpression(QStringLiteral("^G0 X.* Z30.000000\n$")));
    QVERIFY(frameStart > 0);
    double left = 1e9, right = -1e9;
    for (const QPointF &p : Cuts(milled.mid(frameStart)).ends()) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
    }
    const double axis = (left + right) / 2;
    QVector<QPointF> turned;
    for (const QPointF &p : Cuts(milled.mid(0, frameStart)).ends())
        turned << QPointF(2 * axis - p.x(), p.y());
    const Cuts designed(bottomAsDesigned.texts());
    const double offDesign = worstDistance(turned, designed);
    QVERIFY2(offDesign >= 0 && offDesign < 0.01, qPrintable(QString::number(offDesign)));
    // And the whole bottom copper is milled, not a part of it.
    QVector<QPointF> turnedBack;
    for (const QPointF &p : designed.ends())
        turnedBack << QPointF(2 * axis - p.x(), p.y());
    QVERIFY(worstDistance(turnedBack, Cuts(milled.mid(0, frameStart))) < 0.01);

    // The top pass on the turned board mills the top side where the design has it.
    job.finishBottomPass();
    qDeleteAll(measured(job.startPass()));
    qDeleteAll(measured(job.probing()));
    const QList<SerialMessage *> topPass = job.stages(QStringLiteral("top"));
    const Cuts topCuts(contents(topPass));
    qDeleteAll(topPass);
    if (top)
        QVERIFY(worstDistance(Cuts(protel[PcbJob::Top].texts()).ends(), topCuts) < 0.01);
    if (drill) {
        for (const QPointF &hole : Cuts(protel[PcbJob::Drill].texts()).plunges) {
            const auto drilled = std::find_if(topCuts.plunges.cbegin(), topCuts.plunges.cend(), [hole](const QPointF &p) {
                return std::hypot(p.x() - hole.x(), p.y() - hole.y()) < 0.01;
            });
            QVERIFY(drilled != topCuts.plunges.cend());
        }
    }
}

QTEST_MAIN(TstPcbRegistration)
#include "tst_pcbregistration.moc"
