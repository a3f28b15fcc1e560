#pragma once

#include "preview/gcoderender.h"
#include "toolpath/tcpsender.h"

#include <QScopedPointer>
#include <QWidget>

namespace Ui {
class Interface;
}
class Mode_Base;
class QPushButton;
class SerialPort;

// The main working page shown once the machine is connected or test mode was chosen: the menu, the
// work page with the preview and the three job modes, the home, about and settings pages. Play/pause,
// the door and stop reach whichever job mode is current.
class Interface : public QWidget
{
    Q_OBJECT
public:
    // Index of each job mode in the mode stack; also the value of currentMode.
    enum ModeIndex : qint32 { StlMode = 0, PcbMode = 1, GcodeMode = 2 };
    enum PageIndex : int { WorkPage = 0, HomePage = 1, ConnectedPage = 2, ContactPage = 3, SettingsPage = 4 };

    explicit Interface(QWidget *parent = nullptr);
    ~Interface() override;

    void setSerialPort(SerialPort *port);
    void pauseCurrentMode();
    // A job line failed and the connection holds the job: every running job shows its play button.
    void pauseRunningJobs();
    void refreshPreview();

    qint32 currentModeIndex() const { return currentMode; }
    GcodeRender *render() { return &m_render; }
    TcpSender *tcpSender() { return &m_tcpSender; }

Q_SIGNALS:
    // Stop was clicked: the session ends and the start page follows.
    void stopRequested();

public Q_SLOTS:
    void reset();
    void doorOpen(bool door_status);
    void on_button_gcode_clicked();
    void on_button_settings_clicked();
    void on_button_pcb_clicked();
    void on_button_stl_clicked();
    void on_button_zentra_clicked();
    void on_button_Contact_clicked();
    void on_button_play_pause_clicked();
    void on_button_stop_clicked();

private:
    Mode_Base *mode(qint32 index) const;
    void showMode(qint32 index);
    void showPage(int page);
    void underline(QPushButton *button);

    QScopedPointer<Ui::Interface> ui;
    qint32 currentMode = GcodeMode;
    GcodeRender m_render;
    TcpSender m_tcpSender;
};
