#include "modes/interface.h"

#include "app/mainwindow.h"

// The job modes, the preview and the calculation client attach here as they are built.
Interface::Interface(QWidget *parent)
    : QWidget(parent)
{
}

void Interface::setSerialPort(SerialPort *)
{
}

void Interface::pauseCurrentMode()
{
}

void Interface::connectReset(MainWindow *mainWindow)
{
    connect(mainWindow, &MainWindow::signal_reset, this, &Interface::reset, Qt::QueuedConnection);
}

void Interface::refreshPreview()
{
}

void Interface::reset()
{
}
