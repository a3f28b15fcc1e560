#pragma once

#include <QWidget>

class MainWindow;
class SerialPort;

// The main working page shown once the machine is connected or test mode was chosen.
class Interface : public QWidget
{
    Q_OBJECT
public:
    explicit Interface(QWidget *parent = nullptr);

    void setSerialPort(SerialPort *port);
    void pauseCurrentMode();
    void connectReset(MainWindow *mainWindow);
    void refreshPreview();

public Q_SLOTS:
    void reset();
};
