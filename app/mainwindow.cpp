#include "app/mainwindow.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QTimer>

#include "app/infodialog.h"
#include "app/memorypolicy.h"
#include "link/pcbserialmessage.h"
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
    MemoryPolicy::returnLargeBlocks();
    connect(PCBSerialMessage::instance(), &PCBSerialMessage::openQTMessageBox, this, &MainWindow::showQTInfo,
            Qt::QueuedConnection);

    // Every start after the first reports the existing tables as an error, so the result tells the user
    // nothing; a database that failed to open shows up as empty settings pages.
    initDatabase();

    ui->setupUi(this);
    connect(mainPage(), &Interface::stopRequested, this, &MainWindow::showStartPage);
    connect(this, &MainWindow::signal_reset, mainPage(), &Interface::reset, Qt::QueuedConnection);
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
// tear-down (deleteLater) or with the window. The connection reports; the window decides.
SerialPort *MainWindow::ensureConnection()
{
    if (m_connection)
        return m_connection;
    awaitClosingConnection();
    m_connection = new SerialPort(this);
    InfoDialog *infoDialog = InfoDialog::instance();
    connect(m_connection, &SerialPort::info, infoDialog, &InfoDialog::appendInfo);
    connect(m_connection, &SerialPort::testError, infoDialog, &InfoDialog::testError);
    // Queued: the door message comes from deep inside the reader's call chain.
    connect(m_connection, &SerialPort::doorMessage, this, &MainWindow::modePause, Qt::QueuedConnection);
    connect(m_connection, &SerialPort::stopRequested, this, &MainWindow::showStartPage);
    connect(m_connection, &SerialPort::closed, this, &MainWindow::forgetConnection);
    connect(m_connection, &SerialPort::pausedOnError, mainPage(), &Interface::pauseRunningJobs);
    return m_connection;
}

void MainWindow::showStartPage()
{
    ui->stackedWidget->setCurrentIndex(StartPage);
    if (m_connection)
        m_connection->resetConnection(StartPage);
    Q_EMIT signal_reset();
    forgetConnection();
}

void MainWindow::forgetConnection()
{
    if (m_connection && m_connection->isClosing())
        m_closingConnection = m_connection;
    m_connection = nullptr;
    mainPage()->setSerialPort(nullptr);
}

// The port can be opened again only once the previous connection has let it go.
void MainWindow::awaitClosingConnection()
{
    if (!m_closingConnection)
        return;
    QEventLoop loop;
    connect(m_closingConnection, &QObject::destroyed, &loop, &QEventLoop::quit);
    QTimer::singleShot(SerialPort::ResetAttempts * SerialPort::ResetRepeatMs + 500, &loop, &QEventLoop::quit);
    loop.exec();
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

// The controller takes its reset before the program goes.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_connection)
        showStartPage();
    awaitClosingConnection();
    event->accept();
}
