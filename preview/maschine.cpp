#include "preview/maschine.h"

#include "preview/gcoderender.h"

#include <QGuiApplication>

Maschine *Maschine::instance()
{
    // Lives until the process ends: connections made here outlast every page and connection object.
    static Maschine *hub = new Maschine;
    return hub;
}

GcodeRender *Maschine::render() const
{
    return m_render;
}

void Maschine::setSerialPort(SerialPort *port)
{
    m_serialPort = port;
    wire();
}

void Maschine::setReader(SerialPortReader *reader)
{
    m_reader = reader;
    wire();
}

void Maschine::setMachineSettings(Machine_Settings *page)
{
    m_machineSettings = page;
    wire();
}

void Maschine::setPcbSettings(Pcb_Settings *page)
{
    m_pcbSettings = page;
    wire();
}

void Maschine::setRender(GcodeRender *render)
{
    m_render = render;
    wire();
}

void Maschine::setPcbMode(Mode_PCB *mode)
{
    m_pcbMode = mode;
    wire();
}

void Maschine::setGcodeMode(Mode_Gcode *mode)
{
    m_gcodeMode = mode;
    wire();
}

void Maschine::wire()
{
    wireRender();
}

void Maschine::wireRender()
{
    if (!m_render || !qGuiApp)
        return;
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, &Maschine::renderRefresh, Qt::UniqueConnection);
}

// Activating or leaving the application changes nothing in the scene, so the on-demand renderer
// needs a nudge to draw the window again.
void Maschine::renderRefresh(Qt::ApplicationState)
{
    if (m_render)
        m_render->refresh();
}
