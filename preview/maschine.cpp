#include "preview/maschine.h"

#include "link/serialport.h"
#include "link/serialportreader.h"
#include "modes/mode_gcode.h"
#include "modes/mode_pcb.h"
#include "preview/gcoderender.h"
#include "settings/machine_settings.h"
#include "settings/pcb_settings.h"

#include <QGuiApplication>

Maschine *Maschine::instance()
{
    // Lives until the process ends: connections made here outlast every page and connection object.
    static Maschine *hub = new Maschine;
    return hub;
}

SerialPort *Maschine::serialPort() const
{
    return m_serialPort;
}

SerialPortReader *Maschine::reader() const
{
    return m_reader;
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
    wireReader();
    wireMachineSettings();
    wirePcbSettings();
    wireRender();
}

void Maschine::wireReader()
{
    if (!m_reader)
        return;
    if (m_machineSettings) {
        connect(m_reader, &SerialPortReader::settingsUpdate, m_machineSettings, &Machine_Settings::updateGRBLSetting,
                Qt::UniqueConnection);
        connect(m_reader, &SerialPortReader::settingsSuccess, m_machineSettings,
                &Machine_Settings::successGRBLSetting, Qt::UniqueConnection);
        connect(m_reader, &SerialPortReader::usbMessage, m_machineSettings, &Machine_Settings::getUsbKorvexMessage,
                Qt::UniqueConnection);
    }
    if (m_gcodeMode) {
        connect(m_reader, &SerialPortReader::updatePosition, m_gcodeMode, &Mode_Gcode::updatePosition,
                Qt::UniqueConnection);
        connect(m_reader, &SerialPortReader::statusUpdate, m_gcodeMode, &Mode_Gcode::showStatus, Qt::UniqueConnection);
        connect(m_reader, &SerialPortReader::settingsUpdate, m_gcodeMode, &Mode_Gcode::machineSettingChanged,
                Qt::UniqueConnection);
    }
}

void Maschine::wireMachineSettings()
{
    if (!m_machineSettings)
        return;
    if (m_serialPort)
        m_machineSettings->setSerialPort(m_serialPort);
    if (m_render) {
        connect(m_machineSettings, &Machine_Settings::tableChanged, m_render->table(), &MillingTable::changeTable,
                Qt::UniqueConnection);
        connect(m_machineSettings, &Machine_Settings::tableChanged, m_render,
                qOverload<float, float, float, float>(&GcodeRender::setCameraSettings), Qt::UniqueConnection);
    }
}

void Maschine::wirePcbSettings()
{
    if (!m_pcbSettings)
        return;
    if (m_pcbMode)
        m_pcbMode->setPcbSettings(m_pcbSettings);
    if (!m_render)
        return;
    MillingTable *table = m_render->table();
    PcbRenderHelper *layers = m_render->pcbLayers();
    connect(m_pcbSettings, &Pcb_Settings::pcbSizeChanged, table, &MillingTable::changePCBSize, Qt::UniqueConnection);
    connect(m_pcbSettings, &Pcb_Settings::pcbProbePositionChanged, table, &MillingTable::changeProbePosition,
            Qt::UniqueConnection);
    connect(m_pcbSettings, &Pcb_Settings::pcbPositionChanged, table, &MillingTable::changePCBPosition,
            Qt::UniqueConnection);
    connect(m_pcbSettings, &Pcb_Settings::pcbPositionChanged, layers, &PcbRenderHelper::pcbPositionChanged,
            Qt::UniqueConnection);
    connect(m_pcbSettings, &Pcb_Settings::pcbSizeChanged, layers, &PcbRenderHelper::pcbSizeChanged,
            Qt::UniqueConnection);
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
