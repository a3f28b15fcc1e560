#include "settingstest.h"
#include "settings/pcb_settings.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Types one character at a time, as a user would, into an emptied field.
void typeInto(Pcb_Settings &page, const QString &field, const QString &text)
{
    auto *edit = page.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->clear();
    QTest::keyClicks(edit, text);
}

} // namespace

class TestPcbSettings : public QObject
{
    Q_OBJECT

    FactoryDatabase m_factory;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_factory.create()); }
    void init() { QVERIFY(m_factory.openCopy()); }

    // Each field shows the column of its own name; a broken profile shows what can be read and the page works on.
    void loadsTheStoredProfile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QList<float>>("bits");
        QTest::newRow("distinct feedrates") << "UPDATE maschine_settings SET outline_bit_feedrate = 301, drill_bit_feedrate = 302"
                                            << QList<float>{1.6f, 2, 0.5f, 301, 302};
        QTest::newRow("text for a number") << "UPDATE maschine_settings SET pcb_size_x = 'wide'" << QList<float>{1.6f, 2, 0.5f, 300, 300};
        QTest::newRow("no table") << "DROP TABLE maschine_settings" << QList<float>{0, 0, 0, 0, 0};
    }

    void loadsTheStoredProfile()
    {
        QFETCH(QString, change);
        QFETCH(QList<float>, bits);
        QVERIFY(execSql(change));
        Pcb_Settings page;
        const QList<QLineEdit *> fields = page.findChildren<QLineEdit *>();
        QCOMPARE(fields.size(), 17);
        for (const QLineEdit *field : fields) {
            const QVariant stored = storedInCurrentProfile(field->objectName());
            QCOMPARE(field->text(), stored.isValid() ? QString::number(stored.toDouble()) : QString());
        }
        QCOMPARE((QList<float>{page.getPCBHeight(), page.outlineDiameter(), page.outlineMillDepth(), page.outlineFeedrate(),
                               page.drillFeedrate()}), bits);
        QCOMPARE(page.probePosition(), QVector3D(0, 0, 0));
        typeInto(page, QStringLiteral("pcb_size_z"), QStringLiteral("2"));
        QCOMPARE(page.getPCBHeight(), 2.0f);
    }

    void everyKeystrokeIsStoredAndAnnounced()
    {
        Pcb_Settings page;
        QSignalSpy size(&page, &Pcb_Settings::pcbSizeChanged);
        QSignalSpy position(&page, &Pcb_Settings::pcbPositionChanged);
        QSignalSpy probe(&page, &Pcb_Settings::pcbProbePositionChanged);
        page.announceGeometry();
        QCOMPARE(size.takeFirst(), (QVariantList{150.0f, 100.0f, 1.6f}));
        QCOMPARE(position.takeFirst(), (QVariantList{0.0f, 0.0f, 0.0f}));
        QCOMPARE(probe.takeFirst(), (QVariantList{0.0f, 0.0f, 1.6f}));

        auto *edit = page.findChild<QLineEdit *>(QStringLiteral("pcb_size_z"));
        edit->clear();
        const QList<QPair<char, double>> keys = {{'1', 1.0}, {'.', 1.0}, {'6', 1.6}};
        for (const auto &key : keys) {
            QTest::keyClick(edit, key.first);
            QCOMPARE(storedInCurrentProfile(QStringLiteral("pcb_size_z")).toDouble(), key.second);
        }
        QCOMPARE((QList<int>{size.count(), position.count(), probe.count()}), (QList<int>{3, 3, 3}));
        QCOMPARE(size.first(), (QVariantList{150.0f, 100.0f, 1.0f}));
        QCOMPARE(probe.last(), (QVariantList{0.0f, 0.0f, 1.6f}));

        typeInto(page, QStringLiteral("probe_position_x"), QStringLiteral("2,5"));
        QCOMPARE(probe.last(), (QVariantList{0.0f, 0.0f, 1.6f}));
    }

    void fieldsStoreTheirOwnColumn_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("expected");
        QTest::newRow("position") << "pcb_position_x" << "12.5" << 12.5;
        QTest::newRow("comma") << "drill_bit_feedrate" << "1,5" << 0.0;
        QTest::newRow("letters") << "outline_bit_feedrate" << "fast" << 0.0;
        QTest::newRow("quote and semicolon") << "passes" << "1\"; DROP TABLE material; --" << 0.0;
        QTest::newRow("infinity") << "pcb_size_y" << "inf" << 0.0;
        QTest::newRow("seven digits") << "probe_position_y" << "123.4567" << 123.457;
    }

    void fieldsStoreTheirOwnColumn()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(double, expected);
        Pcb_Settings page;
        typeInto(page, field, typed);
        QCOMPARE(storedInCurrentProfile(field).toDouble(), expected);
        QCOMPARE(storedInCurrentProfile(QStringLiteral("pcb_size_x")).toDouble(), 150.0);
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM material")).toInt(), 6);
    }
};

QTEST_MAIN(TestPcbSettings)
#include "tst_pcb_settings.moc"
