#include "app/infodialog.h"
#include "link/gcodeserialmessage.h"
#include "modes/dialoggcodetest.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

class TstDialogGcodeTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void form();
    void runWithoutErrorsSendsForReal();
    void runWithErrorLetsUserChoose_data();
    void runWithErrorLetsUserChoose();
    void cannotBeClosedDuringRun();

private:
    static QList<SerialMessage *> checkMessages(int count);
};

QList<SerialMessage *> TstDialogGcodeTest::checkMessages(int count)
{
    QList<SerialMessage *> messages;
    for (int i = 0; i < count; ++i)
        messages << new GcodeSerialMessage;
    return messages;
}

void TstDialogGcodeTest::form()
{
    DialogGcodeTest dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Gcode Test"));
    QVERIFY(dialog.isModal());
    QCOMPARE(dialog.size(), QSize(584, 288));
    QCOMPARE(dialog.maximumHeight(), 450);
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Checking Gcode:"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("continue_2"))->text(), QStringLiteral("Continue"));
    QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("abort"))->text(), QStringLiteral("Abort"));
}

void TstDialogGcodeTest::runWithoutErrorsSendsForReal()
{
    DialogGcodeTest dialog;
    GcodeSerialMessage::registerCheckDialog(&dialog);
    dialog.setCheckMessages(checkMessages(3));
    dialog.show();
    QSignalSpy okSend(&dialog, &DialogGcodeTest::okSend);

    Q_EMIT GcodeSerialMessage::instance()->setTestProgress(1);
    QCOMPARE(dialog.findChild<QProgressBar *>()->value(), 33);
    Q_EMIT GcodeSerialMessage::instance()->allTestMSGsSent();
    QCOMPARE(dialog.findChild<QProgressBar *>()->value(), 100);
    QCOMPARE(okSend.count(), 1);
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.findChildren<GcodeSerialMessage *>().isEmpty());
}

void TstDialogGcodeTest::runWithErrorLetsUserChoose_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("sends");
    QTest::newRow("continue") << "continue_2" << true;
    QTest::newRow("abort") << "abort" << false;
}

void TstDialogGcodeTest::runWithErrorLetsUserChoose()
{
    QFETCH(QString, button);
    QFETCH(bool, sends);
    DialogGcodeTest dialog;
    GcodeSerialMessage::registerCheckDialog(&dialog);
    dialog.setCheckMessages(checkMessages(2));
    dialog.show();
    QSignalSpy okSend(&dialog, &DialogGcodeTest::okSend);
    QSignalSpy abort(&dialog, &DialogGcodeTest::abort);
    auto *buttonWidget = dialog.findChild<QPushButton *>(button);
    QVERIFY(buttonWidget->isHidden());

    const QString error = QStringLiteral("Error: Undefined feed rate\nLine:2\nGcode: G1X10\n");
    Q_EMIT InfoDialog::instance()->testError(error);
    Q_EMIT GcodeSerialMessage::instance()->allTestMSGsSent();
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("error_text"))->text(), error);
    QVERIFY(dialog.isVisible());
    QVERIFY(!buttonWidget->isHidden());
    QCOMPARE(okSend.count() + abort.count(), 0);

    QTest::mouseClick(buttonWidget, Qt::LeftButton);
    QCOMPARE(okSend.count(), sends ? 1 : 0);
    QCOMPARE(abort.count(), sends ? 0 : 1);
    QVERIFY(!dialog.isVisible());
}

void TstDialogGcodeTest::cannotBeClosedDuringRun()
{
    DialogGcodeTest dialog;
    dialog.setCheckMessages(checkMessages(1));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
}

QTEST_MAIN(TstDialogGcodeTest)
#include "tst_dialoggcodetest.moc"
