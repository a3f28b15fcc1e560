#include "link/checkdoormessage.h"
#include "modes/jogger.h"
#include "modes/mode_stl.h"
#include "tests/modes/mainpage.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>

namespace {

// The touch-off dialog of a main page connected to the simulated controller.
struct TouchOff
{
    MainPage main;
    Jogger *jogger = nullptr;

    bool open()
    {
        if (!main.connectToSimulator())
            return false;
        jogger = main.page()->findChild<Mode_STL *>()->jogger();
        jogger->setSerialPort(main.window->connection());
        jogger->open();
        return true;
    }

    template<class T = QPushButton>
    T *widget(const char *name) const { return jogger->findChild<T *>(QLatin1String(name)); }

    // Waits until the controller received `lines` (in this order) after what it had before.
    bool receives(const QStringList &lines) const
    {
        return QTest::qWaitFor([&] {
            const QStringList got = main.received();
            int at = 0;
            for (const QString &line : got)
                if (at < lines.size() && line == lines[at])
                    ++at;
            return at == lines.size();
        }, 10000);
    }
};

} // namespace

class TstJogger : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { CheckDoorMessage::setDoorOpen(false); }
    void cleanup() { CheckDoorMessage::setDoorOpen(false); }
    void jogButtonsSpinUpJogAndCancel_data();
    void jogButtonsSpinUpJogAndCancel();
    void doorOpenActionWaitsForTheClosedDoor();
    void sliderFeedIsTheShownFeed();
    void manualPositionOnlyWhenChosen();
    void escapeStopsTheSpindleWithoutStarting();
};

void TstJogger::jogButtonsSpinUpJogAndCancel_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("jog");
    QTest::newRow("down 1") << "joggingDown1" << "$J=G21 G90 G53 Z-65 F15";
    QTest::newRow("down 3") << "joggingDown3" << "$J=G21 G90 G53 Z-65 F50";
    QTest::newRow("down 5") << "joggingDown5" << "$J=G21 G90 G53 Z-65 F250";
    QTest::newRow("up") << "jogging_up" << "$J=G21 G90 G53 Z0 F200";
    QTest::newRow("down at the slider's feed") << "jogging_down" << "$J=G21 G90 G53 Z-65 F100";
}

void TstJogger::jogButtonsSpinUpJogAndCancel()
{
    QFETCH(QString, button);
    QFETCH(QString, jog);
    TouchOff touchOff;
    QVERIFY(touchOff.open());
    QTest::mousePress(touchOff.widget(button.toLatin1()), Qt::LeftButton);
    QVERIFY(touchOff.receives({QStringLiteral("S12000 M3"), jog}));
    QTest::mouseRelease(touchOff.widget(button.toLatin1()), Qt::LeftButton);
    // The jog cancel is the byte 0x85 followed by a line end.
    QVERIFY(touchOff.receives({jog, QStringLiteral("<0x85>"), QString()}));
}

void TstJogger::doorOpenActionWaitsForTheClosedDoor()
{
    TouchOff touchOff;
    QVERIFY(touchOff.open());
    QSignalSpy moves(touchOff.jogger, &Jogger::moveTo);
    CheckDoorMessage::setDoorOpen(true);
    // A jog asked for and let go while the door is open is forgotten.
    QTest::mousePress(touchOff.widget("joggingDown2"), Qt::LeftButton);
    QTest::mouseRelease(touchOff.widget("joggingDown2"), Qt::LeftButton);
    QVERIFY(touchOff.jogger->pendingActions().isEmpty());
    const int queries = touchOff.main.statusRequests();
    QTest::mouseClick(touchOff.widget<QRadioButton>("radioButton_upper_left"), Qt::LeftButton);
    QCOMPARE(touchOff.jogger->pendingActions(), QList<int>{Jogger::MoveToReference});
    QVERIFY(moves.isEmpty());
    // The door is asked about: a status query goes out.
    QVERIFY(QTest::qWaitFor([&] { return touchOff.main.statusRequests() > queries; }, 10000));
    QVERIFY(!touchOff.main.received().contains(QStringLiteral("$J=G21 G90 G53 Z-65 F30")));
    touchOff.jogger->doorIsClosed();
    QCOMPARE(moves.size(), 1);
    QCOMPARE(moves.first().first().toInt(), int(Jogger::UpperLeft));
    QVERIFY(touchOff.jogger->pendingActions().isEmpty());
}

void TstJogger::sliderFeedIsTheShownFeed()
{
    Jogger jogger;
    auto *slider = jogger.findChild<QSlider *>(QStringLiteral("slider_jogging_speed"));
    auto *label = jogger.findChild<QLabel *>(QStringLiteral("label_Feedrate"));
    QCOMPARE(label->text(), QStringLiteral("100.00"));
    QCOMPARE(jogger.jogFeed(), 100.0f);
    slider->setValue(37);
    QCOMPARE(label->text(), QStringLiteral("14.80"));
    QCOMPARE(QString::number(double(jogger.jogFeed()), 'f', 2), label->text());
}

void TstJogger::manualPositionOnlyWhenChosen()
{
    Jogger jogger;
    QSignalSpy starts(&jogger, &Jogger::setStart);
    auto *x = jogger.findChild<QLineEdit *>(QStringLiteral("j_manual_X"));
    auto *y = jogger.findChild<QLineEdit *>(QStringLiteral("j_manual_Y"));
    y->setText(QStringLiteral("40.5"));
    x->setText(QStringLiteral("120"));
    Q_EMIT x->editingFinished();
    QVERIFY(starts.isEmpty());
    QTest::mouseClick(jogger.findChild<QRadioButton *>(QStringLiteral("radioButton_manual")), Qt::LeftButton);
    QCOMPARE(starts.size(), 1);
    QCOMPARE(starts.first().first().value<QVector2D>(), QVector2D(120.0f, 40.5f));
}

void TstJogger::escapeStopsTheSpindleWithoutStarting()
{
    TouchOff touchOff;
    QVERIFY(touchOff.open());
    QSignalSpy starts(touchOff.jogger, &Jogger::startMilling);
    QTest::keyClick(touchOff.jogger, Qt::Key_Escape);
    QVERIFY(touchOff.receives({QStringLiteral("M5")}));
    QVERIFY(!touchOff.jogger->isVisible());
    QVERIFY(!touchOff.jogger->isOpenForTouchOff());
    QVERIFY(starts.isEmpty());
}

QTEST_MAIN(TstJogger)
#include "tst_jogger.moc"
