#include "settings/database.h"
#include "settings/pcb_settings.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

class TestPcbSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_databases = 0;

    void freshDatabase()
    {
        const QString copy = m_dir.filePath(QStringLiteral("db%1").arg(++m_databases));
        QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("factory")), copy));
        initDatabase(copy);
    }

    static QVariant stored(const QString &column)
    {
        QSqlQuery query(QStringLiteral("SELECT %1 FROM maschine_settings WHERE machine_name = 'current'").arg(column));
        return query.next() ? query.value(0) : QVariant();
    }

    static QList<float> args(const QSignalSpy &spy, int call)
    {
        QList<float> values;
        for (const QVariant &value : spy.at(call))
            values << value.toFloat();
        return values;
    }

    // Types one character at a time, as a user would, into an emptied field.
    static void typeInto(Pcb_Settings &page, const char *field, const QString &text)
    {
        auto *edit = page.findChild<QLineEdit *>(QLatin1String(field));
        QVERIFY(edit);
        edit->clear();
        edit->setFocus();
        QTest::keyClicks(edit, text);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("factory"))).isValid());
    }
    void init() { freshDatabase(); }

    void startsWithTheStoredProfile()
    {
        Pcb_Settings page;
        QCOMPARE(page.findChild<QLineEdit *>(QStringLiteral("pcb_size_x"))->text(), QStringLiteral("150"));
        QCOMPARE(page.findChild<QLineEdit *>(QStringLiteral("pcb_size_z"))->text(), QStringLiteral("1.6"));
        QCOMPARE(page.findChildren<QLineEdit *>().size(), 17);
        for (QLineEdit *field : page.findChildren<QLineEdit *>())
            QVERIFY2(stored(field->objectName()).isValid(), qPrintable(field->objectName()));

        QSignalSpy size(&page, &Pcb_Settings::pcbSizeChanged);
        QSignalSpy position(&page, &Pcb_Settings::pcbPositionChanged);
        QSignalSpy probe(&page, &Pcb_Settings::pcbProbePositionChanged);
        page.announceGeometry();
        QCOMPARE(args(size, 0), (QList<float>{150.0f, 100.0f, 1.6f}));
        QCOMPARE(args(position, 0), (QList<float>{0.0f, 0.0f, 0.0f}));
        QCOMPARE(args(probe, 0), (QList<float>{0.0f, 0.0f, 1.6f}));

        QCOMPARE(page.getPCBHeight(), 1.6f);
        QCOMPARE(page.outlineDiameter(), 2.0f);
        QCOMPARE(page.outlineMillDepth(), 0.5f);
        QCOMPARE(page.outlineFeedrate(), 300.0f);
        QCOMPARE(page.drillFeedrate(), 300.0f);
        QCOMPARE(page.probePosition(), QVector3D(0, 0, 0));
    }

    void everyKeystrokeIsStoredAndAnnounced()
    {
        Pcb_Settings page;
        QSignalSpy size(&page, &Pcb_Settings::pcbSizeChanged);
        QSignalSpy position(&page, &Pcb_Settings::pcbPositionChanged);
        QSignalSpy probe(&page, &Pcb_Settings::pcbProbePositionChanged);
        auto *edit = page.findChild<QLineEdit *>(QStringLiteral("pcb_size_z"));
        edit->clear();
        const QStringList keys = {QStringLiteral("1"), QStringLiteral("."), QStringLiteral("6")};
        const QList<double> storedAfter = {1.0, 1.0, 1.6};
        for (int i = 0; i < keys.size(); ++i) {
            QTest::keyClicks(edit, keys.at(i));
            QCOMPARE(stored(QStringLiteral("pcb_size_z")).toDouble(), storedAfter.at(i));
        }
        QCOMPARE(size.count(), 3);
        QCOMPARE(position.count(), 3);
        QCOMPARE(probe.count(), 3);
        QCOMPARE(args(probe, 2), (QList<float>{0.0f, 0.0f, 1.6f}));
        QCOMPARE(args(size, 0), (QList<float>{150.0f, 100.0f, 1.0f}));
    }

    void fieldsStoreTheirOwnColumn_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("expected");
        QTest::newRow("position") << "pcb_position_x" << "12.5" << 12.5;
        QTest::newRow("bridges") << "bridges" << "4" << 4.0;
        QTest::newRow("engraving angle") << "engraving_bit_angle" << "60" << 60.0;
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
        typeInto(page, qPrintable(field), typed);
        QCOMPARE(stored(field).toDouble(), expected);
        QCOMPARE(stored(QStringLiteral("pcb_size_x")).toDouble(), 150.0);
        QSqlQuery materials(QStringLiteral("SELECT count(*) FROM material"));
        QVERIFY(materials.next());
        QCOMPARE(materials.value(0).toInt(), 6);
    }

    void aCommaAnnouncesZero()
    {
        Pcb_Settings page;
        QSignalSpy probe(&page, &Pcb_Settings::pcbProbePositionChanged);
        typeInto(page, "probe_position_x", QStringLiteral("2,5"));
        QCOMPARE(args(probe, probe.count() - 1), (QList<float>{0.0f, 0.0f, 1.6f}));
    }

    void garbageInTheDatabaseShowsAsZero()
    {
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE loose AS SELECT * FROM maschine_settings")));
        QVERIFY(query.exec(QStringLiteral("DROP TABLE maschine_settings")));
        QVERIFY(query.exec(QStringLiteral("ALTER TABLE loose RENAME TO maschine_settings")));
        QVERIFY(query.exec(QStringLiteral("UPDATE maschine_settings SET pcb_size_x = 'wide', pcb_size_y = NULL")));
        Pcb_Settings page;
        QCOMPARE(page.findChild<QLineEdit *>(QStringLiteral("pcb_size_x"))->text(), QStringLiteral("0"));
        QCOMPARE(page.findChild<QLineEdit *>(QStringLiteral("pcb_size_y"))->text(), QStringLiteral("0"));
        QCOMPARE(page.getPCBHeight(), 1.6f);
    }

    void aMissingTableLeavesTheFieldsEmpty()
    {
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral("DROP TABLE maschine_settings")));
        Pcb_Settings page;
        QVERIFY(page.findChild<QLineEdit *>(QStringLiteral("pcb_size_z"))->text().isEmpty());
        QCOMPARE(page.getPCBHeight(), 0.0f);
        typeInto(page, "pcb_size_z", QStringLiteral("2"));
        QCOMPARE(page.getPCBHeight(), 2.0f);
    }
};

QTEST_MAIN(TestPcbSettings)
#include "tst_pcb_settings.moc"
