#pragma once

#include <QIcon>
#include <QString>

class GcodeRender;
class SerialPort;
class TcpSender;
namespace Ui {
class Interface;
}

// The state every job mode shares: whether its job runs, the connection it feeds, and the play/pause
// button of the main page it drives. The main page reaches the current mode only through here.
class Mode_Base
{
public:
    Mode_Base();
    virtual ~Mode_Base();

    // Builds and queues the mode's job; true when it was queued.
    virtual bool get_gcode();

    // The play/pause button was clicked while this mode is shown on the work page: a running job is
    // held, a held one resumes, and an idle mode starts its job.
    virtual void playPause();
    // Stop: the job is dropped and the mode returns to idle.
    virtual void reset() = 0;
    // The safety door was closed while the work page is shown.
    virtual void doorClosed();
    // Called once by the main page with what the mode needs besides the connection.
    virtual void setupMode(TcpSender *tcpSender, GcodeRender *render, Ui::Interface *interfaceUi);

    void setPaused(bool paused);
    void refreshPlayPauseButton();
    void setSerialPort(SerialPort *port);
    void setInterfaceUi(Ui::Interface *interfaceUi);

    bool isPaused() const { return paused; }
    bool isStarted() const { return started; }
    SerialPort *serialPort() const { return serialport; }

protected:
    // Idle: no job, play icon shown.
    void setIdle();
    bool isConnected() const;
    // Queues a plain text line when connected; dropped otherwise.
    void sendText(const QString &text);
    // Feed hold when a running job is paused, cycle start when a held job resumes.
    void holdOrResume(bool wasPaused);
    // Play on an idle mode; by default there is nothing to mill.
    virtual void startJob();
    // A start was asked for with nothing to mill: back to paused and tell the user.
    void refuseStartWithoutProgram();

    bool paused = true;
    bool started = false;
    SerialPort *serialport = nullptr;
    Ui::Interface *interfaceUi = nullptr;
    const QIcon playIcon;
    const QIcon pauseIcon;
    const QString errorStyle;
    const QString doneStyle;
    const QString busyStyle;
    const QString idleStyle;
};
