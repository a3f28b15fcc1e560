#include "preview/maschine.h"

Maschine *Maschine::instance()
{
    // Lives until the process ends: connections made here outlast every page and connection object.
    static Maschine *hub = new Maschine;
    return hub;
}

void Maschine::setSerialPort(SerialPort *port)
{
    m_serialPort = port;
}

void Maschine::setReader(SerialPortReader *reader)
{
    m_reader = reader;
}

void Maschine::setMachineSettings(Machine_Settings *page)
{
    m_machineSettings = page;
}

void Maschine::setPcbSettings(Pcb_Settings *page)
{
    m_pcbSettings = page;
}

void Maschine::setRender(GcodeRender *render)
{
    m_render = render;
}

void Maschine::setPcbMode(Mode_PCB *mode)
{
    m_pcbMode = mode;
}

void Maschine::setGcodeMode(Mode_Gcode *mode)
{
    m_gcodeMode = mode;
}

void Maschine::renderRefresh(Qt::ApplicationState)
{
}
