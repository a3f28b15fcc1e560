#include "settingstest.h"

#include <QStandardPaths>
#include <QtTest>

namespace {

const QString rowCounts = QStringLiteral(
    "SELECT (SELECT count(*) FROM material) || ' ' || (SELECT count(*) FROM cutter) || ' ' || "
    "(SELECT count(*) FROM object) || ' ' || (SELECT count(*) FROM object_grp) || ' ' || "
    "(SELECT count(*) FROM auflage) || ' ' || (SELECT count(*) FROM tisch) || ' ' || "
    "(SELECT count(*) FROM maschine_settings) || ' ' || (SELECT count(*) FROM stl_last_settings)");
const QString factoryCounts = QStringLiteral("6 17 11 11 4 2 3 1");

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QSqlError error = initDatabase(path("factory.db"));
        QVERIFY2(!error.isValid(), qPrintable(error.text()));
    }

    // Rows as SQLite itself prints them, so a value bound to the wrong column shows. The fixture tables are
    // read by nobody: their counts are enough.
    void factoryRows_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("columns");
        QTest::addColumn<QString>("expected");
        QTest::newRow("materials") << "material" << "id name"
                                   << "1 Wood, 2 PCB, 3 Foam, 4 Plastic, 5 High Density Modeling Foam, 6 Lab on a chip";
        QTest::newRow("material 4") << "material WHERE id = 4" << "img" << ":/Images/Resources/Plexiglas.jpg";
        QTest::newRow("PCB cutters") << "cutter WHERE mid = 2" << "diameter speed feedrate depth"
                                     << "1.0 12000.0 2000.0 0.1, 2.0 12000.0 2000.0 0.1, 3.0 12000.0 1000.0 0.1";
        QTest::newRow("profiles") << "maschine_settings" << "machine_name pcb_size_z bridges outline_bit_diameter table_size_y"
                                  << "current 1.6 3 2.0 480.0, korvex 1.6 3 2.0 480.0, korvex kit 1.6 3 2.0 480.0";
        QTest::newRow("last STL settings") << "stl_last_settings"
                                           << "infill manual_probing cutter_diamter material_h cutting_h material_id" << "1 1 0.1 10.0 0.5 1";
    }

    void factoryRows()
    {
        QFETCH(QString, rows);
        QFETCH(QString, columns);
        QFETCH(QString, expected);
        initDatabase(path("factory.db"));
        QCOMPARE(scalar(rowCounts).toString(), factoryCounts);
        const QString row = columns.split(QLatin1Char(' ')).join(QStringLiteral(" || ' ' || "));
        const QString sql = QStringLiteral("SELECT group_concat(%1, ', ') FROM (SELECT * FROM %2 ORDER BY rowid)");
        QCOMPARE(scalar(sql.arg(row, rows)).toString(), expected);
    }

    void keysHoldAndASecondStartAddsNothing()
    {
        QVERIFY(!initDatabase(path("reopen.db")).isValid());
        QCOMPARE(scalar(QStringLiteral("PRAGMA foreign_keys")).toInt(), 1);
        QVERIFY(execSql(QStringLiteral("UPDATE maschine_settings SET passes = 4 WHERE machine_name = 'current'")));

        const QSqlError second = initDatabase(path("reopen.db"));
        QVERIFY2(second.text().contains(QStringLiteral("material")), qPrintable(second.text()));
        QCOMPARE(scalar(rowCounts).toString(), factoryCounts);
        QCOMPARE(storedInCurrentProfile(QStringLiteral("passes")).toInt(), 4);
        QVERIFY(!execSql(QStringLiteral("INSERT INTO cutter VALUES (99, 1.0, 12000, 100, 0.1)")));
        QVERIFY(!execSql(QStringLiteral("INSERT INTO cutter VALUES (1, 3.0, 12000, 100, 0.1)")));
        QVERIFY(!execSql(QStringLiteral("DELETE FROM material WHERE id = 1")));
        QVERIFY(execSql(QStringLiteral("DELETE FROM cutter WHERE mid = 1")));
        QVERIFY(execSql(QStringLiteral("DELETE FROM material WHERE id = 1")));
    }

    void brokenFilesReturnTheError_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("opened");
        QTest::newRow("below a plain file") << "plain" << "plain/korvexdb";
        QTest::newRow("not a database") << "garbage.db" << "garbage.db";
    }

    void brokenFilesReturnTheError()
    {
        QFETCH(QString, written);
        QFETCH(QString, opened);
        const QByteArray garbage = QByteArray("$110=500\n").repeated(500);
        QFile file(m_dir.filePath(written));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(garbage) == garbage.size());
        file.close();
        QVERIFY(initDatabase(m_dir.filePath(opened)).isValid());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
    }

    void defaultPathIsInTheDataDirectory()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString file = defaultDatabasePath();
        QCOMPARE(file, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/korvexdb"));
        QVERIFY(QFileInfo(file).dir().exists());
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "tst_database.moc"
