#include "settingstest.h"
#include "settings/pcb_settings.h"
#include "settings/settings.h"

#include <QApplication>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

namespace {

QToolButton *stripButton(const Settings &page, const QString &text)
{
    for (QToolButton *button : page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"))->findChildren<QToolButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// Adds a cutter row through the page's button and fills diameter, speed, feedrate and depth as a user would.
QAbstractItemModel *addCutter(Settings &page, const QList<double> &values)
{
    page.findChild<QToolButton *>(QStringLiteral("toolButton_69"))->click();
    QAbstractItemModel *model = page.findChild<QTableView *>(QStringLiteral("tableView"))->model();
    for (int column = 1; column <= values.size(); ++column)
        model->setData(model->index(model->rowCount() - 1, column), values.at(column - 1));
    return model;
}

// Types one character at a time, as a user would, into an emptied field.
void typeInto(Pcb_Settings &page, const QString &field, const QString &text)
{
    auto *edit = page.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    edit->clear();
    QTest::keyClicks(edit, text);
}

} // namespace

class TestSettingsPage : public QObject
{
    Q_OBJECT

    FactoryDatabase m_factory;

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_factory.create()); }
    void init() { QVERIFY(m_factory.openCopy()); }

    void lookupCutter_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("material");
        QTest::addColumn<float>("diameter");
        QTest::addColumn<QList<float>>("found");
        QTest::newRow("stored diameter") << "" << "Wood" << 3.0f << QList<float>{12000, 2000, 0.5f};
        QTest::newRow("between two cutters") << "" << "Wood" << 2.0f << QList<float>{12000, 2000, 0.375f};
        QTest::newRow("not exact in float") << "" << "Lab on a chip" << 0.1f << QList<float>{12000, 120, 0.01f};
        QTest::newRow("interpolated speed") << "INSERT INTO cutter VALUES (3, 4.0, 10000, 1500, 2.0)" << "Foam" << 3.5f
                                            << QList<float>{11000, 1750, 1.75f};
        QTest::newRow("above the range") << "" << "Wood" << 8.0f << QList<float>();
        QTest::newRow("below the range") << "" << "Wood" << 0.5f << QList<float>();
        QTest::newRow("unknown material") << "" << "Granite" << 3.0f << QList<float>();
        QTest::newRow("quote in the name") << "" << "Wo\"od" << 3.0f << QList<float>();
        // SQLite sorts text above every number, so a text diameter is the upper neighbour of any large one.
        QTest::newRow("text diameter") << "INSERT INTO cutter VALUES (1, 'thick', 12000, 2000, 0.1)" << "Wood" << 8.0f << QList<float>();
        QTest::newRow("text feedrate") << "UPDATE cutter SET feedrate = 'fast' WHERE mid = 1 AND diameter = 3.0" << "Wood" << 2.0f
                                       << QList<float>();
        QTest::newRow("no cutter table") << "DROP TABLE cutter" << "Wood" << 3.0f << QList<float>();
    }

    void lookupCutter()
    {
        QFETCH(QString, change);
        QFETCH(QString, material);
        QFETCH(float, diameter);
        QFETCH(QList<float>, found);
        QVERIFY(change.isEmpty() || execSql(change));
        float speed = -1, feedrate = -1, depth = -1;
        QCOMPARE(Settings::lookupCutter(material, diameter, speed, feedrate, depth), !found.isEmpty());
        QCOMPARE((QList<float>{speed, feedrate, depth}), (found.isEmpty() ? QList<float>{-1, -1, -1} : found));
    }

    void addingMaterials()
    {
        Settings page;
        QTimer::singleShot(0, this, [] {
            auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->windowTitle(), QStringLiteral("add new Material"));
            dialog->accept();
        });
        page.add_new_Material();
        QCOMPARE(scalar(QStringLiteral("SELECT id FROM material WHERE name = 'Sample'")).toInt(), 7);
        QCOMPARE(page.currentMaterial(), 7);
        QCOMPARE(page.findChild<QGroupBox *>(QStringLiteral("groupBox_Material"))->title(), QStringLiteral("Sample"));
        QVERIFY(!page.addMaterial(QStringLiteral("Sample")));
        QVERIFY(!page.addMaterial(QString()));
        QCOMPARE(page.currentMaterial(), 7);
        QCOMPARE(scalar(QStringLiteral("SELECT count(*) FROM material")).toInt(), 7);

        auto *strip = page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"));
        QCOMPARE(strip->columnCount(), 8);
        QCOMPARE(qobject_cast<QToolButton *>(strip->cellWidget(0, 7))->text(), QStringLiteral("ADD"));
    }

    // Ids with a gap: the description and cutters shown must still be the chosen material's own.
    void choosingMaterialsMapsRowsById()
    {
        QVERIFY(execSql(QStringLiteral("DELETE FROM cutter WHERE mid = 3")));
        QVERIFY(execSql(QStringLiteral("DELETE FROM material WHERE id = 3")));
        Settings page;
        auto *description = page.findChild<QTextEdit *>(QStringLiteral("MaterialDisplay"));
        QAbstractItemModel *cutters = page.findChild<QTableView *>(QStringLiteral("tableView"))->model();
        QCOMPARE(description->toPlainText(), QStringLiteral("Standard cutting parameters for most medium to hard woods"));
        QCOMPARE(cutters->rowCount(), 3);

        stripButton(page, QStringLiteral("Plastic"))->click();
        QCOMPARE(page.currentMaterial(), 4);
        QCOMPARE(description->toPlainText(),
                 QStringLiteral("Standard cutting parameters for Plexiglas, Polycarbonate, POM and similar plastics"));
        QCOMPARE(cutters->rowCount(), 3);
        QCOMPARE(cutters->index(0, 3).data().toDouble(), 500.0);
        QVERIFY(!page.findChild<QLabel *>(QStringLiteral("label_MaterialPicture"))->pixmap(Qt::ReturnByValue).isNull());

        // Typed text is kept as plain text, and written when the field is left.
        description->setPlainText(QStringLiteral("Beech & oak <b>only</b>"));
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(description, &leave);
        QCOMPARE(scalar(QStringLiteral("SELECT description FROM material WHERE id = 4")).toString(), QStringLiteral("Beech & oak <b>only</b>"));
    }

    void addingAndDeletingCutters()
    {
        Settings page;
        stripButton(page, QStringLiteral("Foam"))->click();
        QAbstractItemModel *model = addCutter(page, {4.0, 10000.0, 1500.0, 2.0});

        page.findChild<QAbstractButton *>(QStringLiteral("button_settings_stl"))->click();
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto *table = page.findChild<QTableView *>(QStringLiteral("tableView"));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(model->index(0, 0)).center());
        // A second cutter of a diameter the material has already is refused by the key.
        addCutter(page, {2.0, 9000.0, 900.0, 0.9});
        const QString foam = QStringLiteral("SELECT group_concat(diameter || '/' || speed || '/' || depth, ' ') FROM cutter WHERE mid = 3");
        QCOMPARE(scalar(foam).toString(), QStringLiteral("2.0/12000.0/1.0 3.0/12000.0/1.5 4.0/10000.0/2.0"));
        // One click deletes, though the refused cutter is still pending in the table.
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(model->index(0, 0)).center());
        QCOMPARE(scalar(foam).toString(), QStringLiteral("3.0/12000.0/1.5 4.0/10000.0/2.0"));
    }

    // A database whose tables are missing still gives a page: no materials, an unconfigured cutter table.
    void missingTablesGiveAnEmptyPage()
    {
        for (const char *table : {"cutter", "material", "maschine_settings"})
            QVERIFY(execSql(QStringLiteral("DROP TABLE ") + QLatin1String(table)));
        Settings page;
        QVERIFY(!page.findChild<QTableView *>(QStringLiteral("tableView"))->model());
        QCOMPARE(page.findChild<QTableWidget *>(QStringLiteral("tableWidget_Material"))->columnCount(), 1);
        page.findChild<QToolButton *>(QStringLiteral("toolButton_69"))->click();
        QVERIFY(!page.addMaterial(QStringLiteral("Sample")));
    }

    // The PCB settings stack page: each field shows the column of its own name; a broken profile shows what
    // can be read and the page works on.
    void pcbLoadsTheStoredProfile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QList<float>>("bits");
        QTest::newRow("distinct feedrates") << "UPDATE maschine_settings SET outline_bit_feedrate = 301, drill_bit_feedrate = 302"
                                            << QList<float>{1.6f, 2, 0.5f, 301, 302};
        QTest::newRow("text for a number") << "UPDATE maschine_settings SET pcb_size_x = 'wide'" << QList<float>{1.6f, 2, 0.5f, 300, 300};
        QTest::newRow("no table") << "DROP TABLE maschine_settings" << QList<float>{0, 0, 0, 0, 0};
    }

    void pcbLoadsTheStoredProfile()
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

    void pcbKeystrokesAreStoredAndAnnounced()
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

    void pcbFieldsStoreTheirOwnColumn_data()
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

    void pcbFieldsStoreTheirOwnColumn()
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

QTEST_MAIN(TestSettingsPage)
#include "tst_settings_page.moc"
