#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QScopedPointer>

namespace Ui {
class MainWindow;
}
class Interface;
class PCBChangeMessageBox;
class QStackedWidget;
class SerialPort;

// The program's only top-level window: the start page (calibrate or test) and the main page, the
// owner of the machine connection, and the place where the tool change prompt appears.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    QStackedWidget *pageStack() const;
    Interface *mainPage() const;
    SerialPort *connection() const { return m_connection; }
    PCBChangeMessageBox *toolChangePrompt() const { return m_toolChangePrompt; }

    // Back to the start page: the connection tears itself down (soft reset, deletion) and the job
    // modes are reset and lose their connection. Used on stop, alarm, port error and controller restart.
    void showStartPage();

Q_SIGNALS:
    void signal_reset();

public Q_SLOTS:
    void showQTInfo(QString text, int type);
    void modePause();
    void on_button_unlock_clicked();
    void on_TestUnlock_clicked();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    SerialPort *ensureConnection();
    void forgetConnection();
    void awaitClosingConnection();
    void openMainPage();

    QScopedPointer<Ui::MainWindow> ui;
    PCBChangeMessageBox *m_toolChangePrompt;
    SerialPort *m_connection = nullptr;
    // A connection that was torn down keeps the port until the controller has taken its reset.
    QPointer<SerialPort> m_closingConnection;
};
