#pragma once

#include <QIcon>
#include <QString>

#include <functional>

class GcodeRender;
class QLabel;
class QProgressBar;
class QWidget;
class SerialPort;
class TcpSender;
namespace Ui {
class Interface;
}

// The state every job mode shares: whether its job runs, the connection it feeds, and the play/pause
// button of the main page it drives. The main page reaches the current mode only through here.
//
// Job modes that build their job from a calculated file (PCB, STL/DXF) also share here: the safety
// door checks before a start or a resume, the progress text, and how a file's calculation is shown.
class Mode_Base
{
public:
    Mode_Base();
    virtual ~Mode_Base();

    // Builds and queues the mode's job; true when it was queued.
    virtual bool get_gcode();

    // The play/pause button was clicked while this mode is shown on the work page: a running job is
    // held, a held one resumes, and an idle mode starts its job. A mode that watches the door asks
    // the controller about the door first when it was last seen open.
    virtual void playPause();
    // Stop: the job is dropped and the mode returns to idle.
    virtual void reset() = 0;
    // The safety door was reported closed while the work page is shown: a mode that watches the
    // door starts the job that was asked for while the door was open.
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
    // Whether play and resume go through the door watcher. The G-code mode leaves the door to the
    // controller; the PCB and STL/DXF modes check it.
    enum class DoorWatch { Off, On };

    // The calculation state of a loaded file, shown by its progress bar, the frame of its label and
    // the label: no file, being calculated, a result arrived, the server had no result.
    enum class FileState { Idle, Calculating, Done, NoResult };

    explicit Mode_Base(DoorWatch doorWatch);

    // Idle: no job, play icon shown.
    void setIdle();
    bool isConnected() const;
    // Queues a plain text line when connected; dropped otherwise.
    void sendText(const QString &text);
    // Feed hold when a running job is paused; when a held job resumes, cycle start, or a door check
    // first if the door was last seen open (its report of a closed door resumes the machine).
    void holdOrResume(bool wasPaused);
    // Play on an idle mode; by default there is nothing to mill.
    virtual void startJob();
    // A start was asked for with nothing to mill: back to paused and tell the user.
    void refuseStartWithoutProgram();
    // Asks the controller about the door; the answer reaches the main page's door handling.
    void queueDoorCheck();

    // The job's progress on the main page: "0%" for the first message, else the share of `line`
    // in the job's message count, truncated to whole percent.
    void showProgress(qint64 line, int messageCount);
    void showFileState(FileState state, QProgressBar *bar, QWidget *frame, QLabel *label) const;

    // Runs `work` on Qt's global thread pool while the window keeps running in a local event loop,
    // and returns when the work is done. Events handled meanwhile may reach the mode (stop, answers).
    static void runInBackground(const std::function<void()> &work);

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

private:
    const DoorWatch doorWatch;
};
