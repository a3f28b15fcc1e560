#include "app/mainwindow.h"

#include <QCloseEvent>

#include "app/infodialog.h"
#include "link/serialport.h"
#include "modes/interface.h"
#include "modes/pcbchangemessagebox.h"
#include "settings/database.h"
#include "ui_mainwindow.h"

namespace {
enum Page { StartPage = 0, WorkPage = 1 };
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , m_toolChangePrompt(new PCBChangeMessageBox(this))
{
    InfoDialog::attachMainWindow(this);

    // Every start after the first reports the existing tables as an error, so the result tells the user
    // nothing; a database that failed to open shows up as empty settings pages.
    initDatabase();

    ui->setupUi(this);
    mainPage()->connectReset(this);
    ui->stackedWidget->setCurrentIndex(StartPage);
    ensureConnection();
}

MainWindow::~MainWindow() = default;

QStackedWidget *MainWindow::pageStack() const
{
    return ui->stackedWidget;
}

Interface *MainWindow::mainPage() const
{
    return ui->Interface_;
}

// Owned by the window so that a connection is never left behind, whether it ends by its own
// tear-down (deleteLater) or with the window.
SerialPort *MainWindow::ensureConnection()
{
    if (!m_connection) {
        m_connection = new SerialPort(this);
        m_connection->attachMainWindow(this);
    }
    return m_connection;
}

void MainWindow::showStartPage()
{
    ui->stackedWidget->setCurrentIndex(StartPage);
    Q_EMIT signal_reset();
    forgetConnection(nullptr);
}

void MainWindow::forgetConnection(SerialPort *connection)
{
    m_connection = connection;
    mainPage()->setSerialPort(connection);
}

void MainWindow::on_button_unlock_clicked()
{
    SerialPort *connection = ensureConnection();
    connection->setUnlockOnly(false);
    if (!connection->connectToMachine()) {
        InfoDialog::instance()->appendInfo(QStringLiteral("Haven´t found Korvex\n\nplugin the usb device"));
        return;
    }
    openMainPage();
}

// Opens the main page even without a controller, so the settings can be edited offline.
void MainWindow::on_TestUnlock_clicked()
{
    SerialPort *connection = ensureConnection();
    connection->setUnlockOnly(true);
    connection->connectToMachine();
    openMainPage();
}

void MainWindow::openMainPage()
{
    mainPage()->setSerialPort(m_connection);
    ui->stackedWidget->setCurrentIndex(WorkPage);
    mainPage()->refreshPreview();
}

void MainWindow::showQTInfo(QString text, int type)
{
    m_toolChangePrompt->fill(type, text);
    m_toolChangePrompt->show();
}

void MainWindow::modePause()
{
    mainPage()->pauseCurrentMode();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_connection && m_connection->isConnected())
        m_connection->resetConnection(0);
    event->accept();
}
