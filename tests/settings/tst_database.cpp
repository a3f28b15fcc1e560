#include "settings/database.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TestDatabase : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QVariant scalar(const QString &sql)
    {
        QSqlQuery query(sql);
        return query.next() ? query.value(0) : QVariant();
    }

    static bool exec(const QString &sql)
    {
        QSqlQuery query;
        return query.exec(sql);
    }

    QString freshDatabase(const char *name) const
    {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        const QSqlError error = initDatabase(path);
        if (error.isValid())
            qWarning() << error.text();
        return path;
    }

    // Opens the untouched factory database made once in initTestCase.
    void useFactoryDatabase() const { initDatabase(m_dir.filePath(QStringLiteral("factory.db"))); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QSqlError error = initDatabase(m_dir.filePath(QStringLiteral("factory.db")));
        QVERIFY2(!error.isValid(), qPrintable(error.text()));
    }

    void factoryRowCounts_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("rows");
        QTest::newRow("material") << "material" << 6;
        QTest::newRow("cutter") << "cutter" << 17;
        QTest::newRow("object") << "object" << 11;
        QTest::newRow("object_grp") << "object_grp" << 11;
        QTest::newRow("auflage") << "auflage" << 4;
        QTest::newRow("tisch") << "tisch" << 2;
        QTest::newRow("maschine_settings") << "maschine_settings" << 3;
        QTest::newRow("stl_last_settings") << "stl_last_settings" << 1;
    }

    void factoryRowCounts()
    {
        QFETCH(QString, table);
        QFETCH(int, rows);
        useFactoryDatabase();
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM %1").arg(table)).toInt(), rows);
    }

    void factoryIdsAndValues_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("material 1") << "SELECT name FROM material WHERE id = 1" << QVariant("Wood");
        QTest::newRow("material 6") << "SELECT name FROM material WHERE id = 6" << QVariant("Lab on a chip");
        QTest::newRow("material img")
            << "SELECT img FROM material WHERE id = 4" << QVariant(":/Images/Resources/Plexiglas.jpg");
        QTest::newRow("cutter PCB 3")
            << "SELECT feedrate FROM cutter WHERE mid = 2 AND diameter = 3.0" << QVariant(1000.0);
        QTest::newRow("cutter lab 0.1")
            << "SELECT depth FROM cutter WHERE mid = 6 AND diameter = 0.1" << QVariant(0.01);
        QTest::newRow("object 7")
            << "SELECT source FROM object WHERE id = 7" << QVariant("qrc:/Resources/obj/Opferplatte.obj");
        QTest::newRow("object 4 z") << "SELECT pos_z FROM object WHERE id = 4" << QVariant(-22.0);
        QTest::newRow("group of last object") << "SELECT ogid FROM object_grp WHERE oid = 10" << QVariant(5);
        QTest::newRow("fixture 4") << "SELECT mill_height FROM auflage WHERE id = 4 AND name = 'CD'" << QVariant(50.0);
        QTest::newRow("table 2")
            << "SELECT ogid FROM tisch WHERE id = 2 AND name = 'Vacuum_Table'" << QVariant(4);
        QTest::newRow("table probe") << "SELECT taster_y FROM tisch WHERE id = 1" << QVariant(109.5);
        QTest::newRow("pcb thickness")
            << "SELECT pcb_size_z FROM maschine_settings WHERE machine_name = 'current'" << QVariant(1.6);
        QTest::newRow("kit table")
            << "SELECT table_size_y FROM maschine_settings WHERE machine_name = 'korvex kit'" << QVariant(480.0);
        QTest::newRow("stl cutter") << "SELECT cutter_diamter FROM stl_last_settings" << QVariant(0.1);
    }

    void factoryIdsAndValues()
    {
        QFETCH(QString, sql);
        QFETCH(QVariant, expected);
        useFactoryDatabase();
        const QVariant actual = scalar(sql);
        QVERIFY2(actual.isValid(), qPrintable(sql));
        if (expected.type() == QVariant::Double)
            QCOMPARE(actual.toDouble(), expected.toDouble());
        else
            QCOMPARE(actual.toString(), expected.toString());
    }

    void foreignKeysAreEnforced()
    {
        freshDatabase("keys.db");
        QVERIFY(!exec(QStringLiteral("INSERT INTO cutter VALUES (99, 1.0, 12000, 100, 0.1)")));
        QVERIFY(!exec(QStringLiteral("INSERT INTO cutter VALUES (1, 3.0, 12000, 100, 0.1)")));
        QVERIFY(!exec(QStringLiteral("DELETE FROM material WHERE id = 1")));
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM material")).toInt(), 6);
        QVERIFY(exec(QStringLiteral("DELETE FROM cutter WHERE mid = 1")));
        QVERIFY(exec(QStringLiteral("DELETE FROM material WHERE id = 1")));
    }

    void reopeningKeepsRowsAndAddsNone()
    {
        const QString path = freshDatabase("reopen.db");
        QVERIFY(exec(QStringLiteral("UPDATE maschine_settings SET passes = 4 WHERE machine_name = 'current'")));
        const QSqlError second = initDatabase(path);
        QVERIFY(second.isValid());
        QVERIFY2(second.text().contains(QStringLiteral("material")), qPrintable(second.text()));
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM material")).toInt(), 6);
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM cutter")).toInt(), 17);
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM stl_last_settings")).toInt(), 1);
        QCOMPARE(scalar(QStringLiteral("SELECT passes FROM maschine_settings WHERE machine_name = 'current'")).toInt(), 4);
        QVERIFY(exec(QStringLiteral("INSERT INTO cutter VALUES (99, 1.0, 12000, 100, 0.1)")) == false);
    }

    void unwritableLocationReturnsTheError()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("not-a-directory")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QSqlError error = initDatabase(blocker.fileName() + QStringLiteral("/korvexdb"));
        QVERIFY(error.isValid());
        QCOMPARE(error.type(), QSqlError::ConnectionError);
    }

    void defaultPathIsCreatedInTheDataDirectory()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString path = defaultDatabasePath();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("korvexdb"));
        QVERIFY(QFileInfo(path).dir().exists());
        QVERIFY(path.startsWith(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)));
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
