#include "settings/database.h"
#include "settings/settings.h"

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

class TestSettingsPage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_databases = 0;

    // Every test works on its own copy of one factory database.
    void freshDatabase()
    {
        const QString copy = m_dir.filePath(QStringLiteral("db%1").arg(++m_databases));
        QVERIFY(QFile::copy(m_dir.filePath(QStringLiteral("factory")), copy));
        initDatabase(copy);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM cutter")), 17);
    }

    static int count(const QString &sql)
    {
        QSqlQuery query(sql);
        return query.next() ? query.value(0).toInt() : -1;
    }

    static QToolButton *stripButton(Settings &page, const QString &text)
    {
        for (QToolButton *button : page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"))->findChildren<QToolButton *>()) {
            if (button->text() == text)
                return button;
        }
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(!initDatabase(m_dir.filePath(QStringLiteral("factory"))).isValid());
    }
    void init() { freshDatabase(); }

    void lookupCutter_data()
    {
        QTest::addColumn<QString>("material");
        QTest::addColumn<float>("diameter");
        QTest::addColumn<bool>("found");
        QTest::addColumn<float>("expectedSpeed");
        QTest::addColumn<float>("expectedFeedrate");
        QTest::addColumn<float>("expectedDepth");
        QTest::newRow("stored diameter") << "Wood" << 3.0f << true << 12000.0f << 2000.0f << 0.5f;
        QTest::newRow("between two cutters") << "Wood" << 2.0f << true << 12000.0f << 2000.0f << 0.375f;
        QTest::newRow("interpolated feed") << "PCB" << 2.5f << true << 12000.0f << 1500.0f << 0.1f;
        QTest::newRow("smallest stored, not exact in float") << "Lab on a chip" << 0.1f << true << 12000.0f << 120.0f << 0.01f;
        QTest::newRow("above the range") << "Wood" << 8.0f << false << -1.0f << -1.0f << -1.0f;
        QTest::newRow("below the range") << "Wood" << 0.5f << false << -1.0f << -1.0f << -1.0f;
        QTest::newRow("unknown material") << "Granite" << 3.0f << false << -1.0f << -1.0f << -1.0f;
        QTest::newRow("quote in the name") << "Wo\"od" << 3.0f << false << -1.0f << -1.0f << -1.0f;
    }

    void lookupCutter()
    {
        QFETCH(QString, material);
        QFETCH(float, diameter);
        QFETCH(bool, found);
        QFETCH(float, expectedSpeed);
        QFETCH(float, expectedFeedrate);
        QFETCH(float, expectedDepth);
        float speed = -1, feedrate = -1, depth = -1;
        QCOMPARE(Settings::lookupCutter(material, diameter, speed, feedrate, depth), found);
        QCOMPARE(speed, expectedSpeed);
        QCOMPARE(feedrate, expectedFeedrate);
        QCOMPARE(depth, expectedDepth);
    }

    void lookupCutterRefusesGarbageRows_data()
    {
        QTest::addColumn<QString>("garbage");
        QTest::addColumn<float>("diameter");
        // SQLite sorts text above every number, so a text diameter is the upper neighbour of any large one.
        QTest::newRow("text diameter") << "INSERT INTO cutter VALUES (1, 'thick', 12000, 2000, 0.1)" << 8.0f;
        QTest::newRow("text feedrate") << "UPDATE cutter SET feedrate = 'fast' WHERE mid = 1 AND diameter = 3.0" << 2.0f;
        QTest::newRow("null depth") << "UPDATE cutter SET depth = NULL WHERE mid = 1 AND diameter = 1.0" << 2.0f;
        QTest::newRow("no cutter table") << "DROP TABLE cutter" << 3.0f;
    }

    void lookupCutterRefusesGarbageRows()
    {
        QFETCH(QString, garbage);
        QFETCH(float, diameter);
        QSqlQuery query;
        // SQLite keeps NOT NULL even then; rebuild without it where a NULL is wanted.
        if (garbage.contains(QLatin1String("NULL"))) {
            QVERIFY(query.exec(QStringLiteral("CREATE TABLE loose AS SELECT * FROM cutter")));
            QVERIFY(query.exec(QStringLiteral("DROP TABLE cutter")));
            QVERIFY(query.exec(QStringLiteral("ALTER TABLE loose RENAME TO cutter")));
        }
        QVERIFY2(query.exec(garbage), qPrintable(query.lastError().text()));
        float speed = -1, feedrate = -1, depth = -1;
        QVERIFY(!Settings::lookupCutter(QStringLiteral("Wood"), diameter, speed, feedrate, depth));
        QCOMPARE(feedrate, -1.0f);
    }

    void addingMaterials()
    {
        Settings page;
        QCOMPARE(page.currentMaterial(), 1);
        QVERIFY(page.addMaterial(QStringLiteral("Sample")));
        QCOMPARE(page.currentMaterial(), 7);
        QCOMPARE(page.findChild<QGroupBox *>(QStringLiteral("groupBox_Material"))->title(), QStringLiteral("Sample"));
        QVERIFY(stripButton(page, QStringLiteral("Sample")));
        QVERIFY(!page.addMaterial(QStringLiteral("Sample")));
        QVERIFY(!page.addMaterial(QString()));
        QCOMPARE(page.currentMaterial(), 7);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM material")), 7);

        auto *strip = page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"));
        QCOMPARE(strip->columnCount(), 8);
        auto *add = qobject_cast<QToolButton *>(strip->cellWidget(0, strip->columnCount() - 1));
        QVERIFY(add);
        QCOMPARE(add->text(), QStringLiteral("ADD"));
    }

    void addingMaterialThroughTheDialog()
    {
        Settings page;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("add new Material"));
            QCOMPARE(dialog->textValue(), QStringLiteral("Sample"));
            dialog->setTextValue(QStringLiteral("Oak"));
            dialog->accept();
        });
        page.add_new_Material();
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM material WHERE name = 'Oak'")), 1);
    }

    // Ids with a gap: the description shown must still be the chosen material's own.
    void choosingMaterialsMapsRowsById()
    {
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral("DELETE FROM cutter WHERE mid = 3")));
        QVERIFY(query.exec(QStringLiteral("DELETE FROM material WHERE id = 3")));
        Settings page;
        auto *description = page.findChild<QTextEdit *>(QStringLiteral("MaterialDisplay"));
        auto *table = page.findChild<QTableView *>(QStringLiteral("tableView"));
        QCOMPARE(description->toPlainText(), QStringLiteral("Standard cutting parameters for most medium to hard woods"));
        QCOMPARE(table->model()->rowCount(), 3);

        stripButton(page, QStringLiteral("Plastic"))->click();
        QCOMPARE(page.currentMaterial(), 4);
        QCOMPARE(description->toPlainText(),
                 QStringLiteral("Standard cutting parameters for Plexiglas, Polycarbonate, POM and similar plastics"));
        QCOMPARE(table->model()->rowCount(), 3);
        QCOMPARE(table->model()->index(0, 3).data().toDouble(), 500.0);
        QVERIFY(!page.findChild<QLabel *>(QStringLiteral("label_MaterialPicture"))->pixmap(Qt::ReturnByValue).isNull());
    }

    void editingTheDescriptionIsStored()
    {
        Settings page;
        auto *description = page.findChild<QTextEdit *>(QStringLiteral("MaterialDisplay"));
        description->setPlainText(QStringLiteral("Beech & oak <b>only</b>"));
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(description, &leave);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM material WHERE id = 1 AND description = 'Beech & oak <b>only</b>'")), 1);
    }

    void addingAndDeletingCutters()
    {
        Settings page;
        stripButton(page, QStringLiteral("Foam"))->click();
        page.findChild<QToolButton *>(QStringLiteral("toolButton_69"))->click();
        auto *table = page.findChild<QTableView *>(QStringLiteral("tableView"));
        QAbstractItemModel *model = table->model();
        const int row = model->rowCount() - 1;
        QCOMPARE(model->index(row, 0).data().toInt(), 3);
        for (const auto &value : {qMakePair(1, 4.0), qMakePair(2, 10000.0), qMakePair(3, 1500.0), qMakePair(4, 2.0)})
            QVERIFY(model->setData(model->index(row, value.first), value.second));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM cutter WHERE mid = 3 AND diameter = 4 AND depth = 2")), 1);

        float speed = 0, feedrate = 0, depth = 0;
        QVERIFY(Settings::lookupCutter(QStringLiteral("Foam"), 3.5f, speed, feedrate, depth));
        QCOMPARE(speed, 11000.0f);

        page.findChild<QAbstractButton *>(QStringLiteral("button_settings_stl"))->click();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        table->resizeRowsToContents();
        const QRect firstDelete = table->visualRect(model->index(0, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, firstDelete.center());
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM cutter WHERE mid = 3")), 3);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM cutter WHERE mid = 3 AND diameter = 1")), 0);
        QCOMPARE(model->rowCount(), 3);
    }

    void aDuplicateCutterIsRefused()
    {
        Settings page;
        page.findChild<QToolButton *>(QStringLiteral("toolButton_69"))->click();
        QAbstractItemModel *model = page.findChild<QTableView *>(QStringLiteral("tableView"))->model();
        const int row = model->rowCount() - 1;
        for (const auto &value : {qMakePair(1, 3.0), qMakePair(2, 1.0), qMakePair(3, 1.0), qMakePair(4, 1.0)})
            model->setData(model->index(row, value.first), value.second);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM cutter WHERE mid = 1")), 3);
        QCOMPARE(count(QStringLiteral("SELECT feedrate FROM cutter WHERE mid = 1 AND diameter = 3")), 2000);
    }

    void pageButtonsSwitchTheStack()
    {
        Settings page;
        auto *stack = page.findChild<QStackedWidget *>(QStringLiteral("stackedWidget_6"));
        const QList<QPair<const char *, int>> buttons = {
            {"button_settings_machine", 1}, {"button_settings_stl", 2}, {"button_settings_position", 3}, {"button_settings_pcb", 0}};
        for (const auto &button : buttons) {
            page.findChild<QAbstractButton *>(QLatin1String(button.first))->click();
            QCOMPARE(stack->currentIndex(), button.second);
        }
        QVERIFY(page.findChild<QWidget *>(QStringLiteral("button_settings_pcb"))->styleSheet().contains(QLatin1String("#0277bd")));
        QVERIFY(page.findChild<QWidget *>(QStringLiteral("button_settings_stl"))->styleSheet().contains(QLatin1String("#fff")));
        QCOMPARE(page.calibrationPosition(), QVector3D(173.0f, 112.5f, 0.0f));
        QCOMPARE(page.calibrationHeight(), 2.0f);
    }

    // A database whose tables are missing still gives a page: no materials, an unconfigured cutter table.
    void missingTablesGiveAnEmptyPage()
    {
        QSqlQuery query;
        QVERIFY(query.exec(QStringLiteral("DROP TABLE cutter")));
        QVERIFY(query.exec(QStringLiteral("DROP TABLE material")));
        QVERIFY(query.exec(QStringLiteral("DROP TABLE maschine_settings")));
        Settings page;
        QVERIFY(!page.findChild<QTableView *>(QStringLiteral("tableView"))->model());
        QCOMPARE(page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"))->columnCount(), 1);
        page.findChild<QToolButton *>(QStringLiteral("toolButton_69"))->click();
        QVERIFY(!page.addMaterial(QStringLiteral("Sample")));
    }
};

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"
