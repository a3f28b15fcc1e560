#include "modes/mode_base.h"

#include "link/checkdoormessage.h"
#include "link/serialport.h"

#include "ui_interface.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QtConcurrent>

namespace {
const QString whiteFrame = QStringLiteral("background-color: rgb(255, 255, 255);");
const QString orangeFrame = QStringLiteral("background-color: rgb(253, 151, 38);");
}

Mode_Base::Mode_Base()
    : Mode_Base(DoorWatch::Off)
{
}

Mode_Base::Mode_Base(DoorWatch watch)
    : playIcon(QStringLiteral(":/Images/Resources/play.svg"))
    , pauseIcon(QStringLiteral(":/Images/Resources/ios-pause.svg"))
    , errorStyle(QStringLiteral("QProgressBar::chunk {background-color: red;}"))
    , doneStyle(QStringLiteral("QProgressBar::chunk {background-color: rgb(78, 244, 66);}"))
    , busyStyle(QStringLiteral("QProgressBar::chunk {background-color: yellow;}"))
    , idleStyle(QStringLiteral("QProgressBar::chunk {background-color: rgb(113, 113, 113);}"))
    , doorWatch(watch)
{
}

Mode_Base::~Mode_Base() = default;

bool Mode_Base::get_gcode()
{
    return true;
}

void Mode_Base::playPause()
{
    const bool wasPaused = paused;
    paused = !paused;
    if (started)
        holdOrResume(wasPaused);
    else if (doorWatch == DoorWatch::On && CheckDoorMessage::isDoorOpen())
        queueDoorCheck();
    else if (!paused)
        startJob();
    refreshPlayPauseButton();
}

void Mode_Base::startJob()
{
    refuseStartWithoutProgram();
}

// Neither paused nor started: play was pressed while the door was open, and nothing has run since.
void Mode_Base::doorClosed()
{
    if (doorWatch == DoorWatch::On && !paused && !started) {
        startJob();
        refreshPlayPauseButton();
    }
}

void Mode_Base::setupMode(TcpSender *, GcodeRender *, Ui::Interface *form)
{
    setInterfaceUi(form);
}

void Mode_Base::setPaused(bool pausedNow)
{
    paused = pausedNow;
    refreshPlayPauseButton();
}

void Mode_Base::refreshPlayPauseButton()
{
    if (!interfaceUi)
        return;
    QPushButton *button = interfaceUi->button_play_pause;
    button->setIcon(paused ? playIcon : pauseIcon);
    button->setText(paused ? QStringLiteral("play") : QStringLiteral("pause"));
}

void Mode_Base::setSerialPort(SerialPort *port)
{
    serialport = port;
}

void Mode_Base::setInterfaceUi(Ui::Interface *form)
{
    interfaceUi = form;
}

void Mode_Base::setIdle()
{
    paused = true;
    started = false;
    refreshPlayPauseButton();
}

bool Mode_Base::isConnected() const
{
    return serialport && serialport->isConnected();
}

void Mode_Base::sendText(const QString &text)
{
    if (isConnected())
        serialport->addMessageStringToWriterReader(text);
}

void Mode_Base::holdOrResume(bool wasPaused)
{
    if (!wasPaused)
        sendText(QStringLiteral("!\n"));
    else if (doorWatch == DoorWatch::On && CheckDoorMessage::isDoorOpen())
        queueDoorCheck();
    else
        sendText(QStringLiteral("~\n"));
}

void Mode_Base::refuseStartWithoutProgram()
{
    paused = true;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("info"), QStringLiteral("First select a file"),
                    QMessageBox::Ok);
    box.exec();
}

void Mode_Base::queueDoorCheck()
{
    if (isConnected())
        serialport->addMessageToWriterReader(new CheckDoorMessage);
}

void Mode_Base::showProgress(qint64 line, int messageCount)
{
    if (!interfaceUi)
        return;
    const int percent = line == 0 || messageCount <= 0 ? 0 : int(float(line) / float(messageCount) * 100.0f);
    interfaceUi->button_time->setText(QString::number(percent) + QLatin1Char('%'));
}

void Mode_Base::showFileState(FileState state, QProgressBar *bar, QWidget *frame, QLabel *label) const
{
    switch (state) {
    case FileState::Idle:
        bar->setStyleSheet(idleStyle);
        label->clear();
        break;
    case FileState::Calculating:
        bar->setStyleSheet(busyStyle);
        label->setText(QStringLiteral("Calculating your file."));
        break;
    case FileState::Done:
        bar->setStyleSheet(doneStyle);
        label->setText(QStringLiteral("Done."));
        break;
    case FileState::NoResult:
        bar->setStyleSheet(errorStyle);
        label->setText(QStringLiteral("No results, try uploading a different design."));
        break;
    }
    frame->setStyleSheet(state == FileState::NoResult ? orangeFrame : whiteFrame);
}

void Mode_Base::runInBackground(const std::function<void()> &work)
{
    // Local objects: a second background step started from an event handled meanwhile gets its own.
    QEventLoop loop;
    QFutureWatcher<void> watcher;
    QObject::connect(&watcher, &QFutureWatcher<void>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(work));
    if (!watcher.isFinished())
        loop.exec();
    watcher.waitForFinished();
}
