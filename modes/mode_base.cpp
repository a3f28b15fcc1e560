#include "modes/mode_base.h"

#include "link/serialport.h"

#include "ui_interface.h"

#include <QMessageBox>

Mode_Base::Mode_Base()
    : playIcon(QStringLiteral(":/Images/Resources/play.svg"))
    , pauseIcon(QStringLiteral(":/Images/Resources/ios-pause.svg"))
    , errorStyle(QStringLiteral("QProgressBar::chunk {background-color: red;}"))
    , doneStyle(QStringLiteral("QProgressBar::chunk {background-color: rgb(78, 244, 66);}"))
    , busyStyle(QStringLiteral("QProgressBar::chunk {background-color: yellow;}"))
    , idleStyle(QStringLiteral("QProgressBar::chunk {background-color: rgb(113, 113, 113);}"))
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
    else if (!paused)
        startJob();
    refreshPlayPauseButton();
}

void Mode_Base::startJob()
{
    refuseStartWithoutProgram();
}

void Mode_Base::doorClosed()
{
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
    sendText(wasPaused ? QStringLiteral("~\n") : QStringLiteral("!\n"));
}

void Mode_Base::refuseStartWithoutProgram()
{
    paused = true;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("info"), QStringLiteral("First select a file"),
                    QMessageBox::Ok);
    box.exec();
}
