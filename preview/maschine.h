#pragma once

#include <QObject>
#include <QPointer>

class SerialPort;
class SerialPortReader;
class Machine_Settings;
class Pcb_Settings;
class GcodeRender;
class Mode_PCB;
class Mode_Gcode;

// The process-wide hub where pages, modes, the serial reader and the preview meet. Every setter stores
// its object and then makes each connection whose two ends are now known, so the order in which the
// objects are created does not matter. A null argument only clears the pointer.
class Maschine : public QObject
{
    Q_OBJECT
public:
    static Maschine *instance();

    void setSerialPort(SerialPort *port);
    void setReader(SerialPortReader *reader);
    void setMachineSettings(Machine_Settings *page);
    void setPcbSettings(Pcb_Settings *page);
    void setRender(GcodeRender *render);
    void setPcbMode(Mode_PCB *mode);
    void setGcodeMode(Mode_Gcode *mode);

    SerialPort *serialPort() const;
    SerialPortReader *reader() const;
    GcodeRender *render() const;

public Q_SLOTS:
    void renderRefresh(Qt::ApplicationState state);

private:
    Maschine() = default;
    // Makes every connection whose two ends are known. Connections are unique and hand-overs are
    // plain setters, so running it after each registration never doubles anything.
    void wire();
    void wireReader();
    void wireMachineSettings();
    void wirePcbSettings();
    void wireRender();

    // Guarded: an object that goes away without unregistering must not be reached through the hub.
    QPointer<SerialPort> m_serialPort;
    QPointer<SerialPortReader> m_reader;
    QPointer<Machine_Settings> m_machineSettings;
    QPointer<Pcb_Settings> m_pcbSettings;
    QPointer<GcodeRender> m_render;
    QPointer<Mode_PCB> m_pcbMode;
    QPointer<Mode_Gcode> m_gcodeMode;
};
