#pragma once

#include <QObject>
#include <QString>

#include <functional>

#include "tools/grblsim/grblsettings.h"
#include "tools/grblsim/grblsimulator.h"

// The controller behind the serial buffer: interprets lines, runs the simulated motion and
// answers as GRBL 1.1h does. It reports everything it prints through answer().
class SimulatedMachine : public QObject
{
    Q_OBJECT
public:
    struct Config {
        double timeScale = 0.0;
        GrblSimulator::Surface surface = GrblSimulator::Surface::Flat;
        double surfaceZ = 0.0;
        int eepromWriteMs = 5;
    };

    explicit SimulatedMachine(const Config &config, QObject *parent = nullptr);

    void powerUp();
    bool acceptsLine() const;
    void executeLine(const QByteArray &rawLine);
    void realtime(char byte);

    QString setting(int number) const { return m_settings.value(number); }
    void triggerHardLimit();
    void setDoorOpen(bool open);
    void setProbeMisses(bool misses);

Q_SIGNALS:
    void answer(const QString &line);
    void readyForInput();               // a line that had to wait has been answered
    void eepromWriteStarted(int ms);    // the serial port is deaf for this long
    void receiveBufferFlushed();        // a reset empties the serial buffer

private:
    int executeSystemCommand(const QString &line);
    void answerStatus(int status);
    void softReset();
    void printBanner();

    Config m_config;
    GrblSettings m_settings;
};
