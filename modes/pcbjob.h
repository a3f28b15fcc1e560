#pragma once

#include "modes/pcbprogram.h"

#include <QList>
#include <QString>
#include <QVector2D>
#include <QVector3D>

#include <array>
#include <memory>

class Mode_PCB;
class ProbeGrid;
class SerialMessage;
class TurnOutline;

// What a PCB job takes from the settings, read once when it starts.
struct PcbJobSettings {
    float boardThickness = 0.0f;
    QVector2D toolProbe;   // where the engraving bit's length is measured (PCB settings)
    QVector2D tableProbe;  // the table's probe, where each new tool is measured
    float outlineDiameter = 0.0f;
    float outlineDepthPerPass = 0.0f;
    float outlineFeed = 0.0f;
    float drillFeed = 0.0f;
};

// The messages of one PCB job, pass by pass: the start of a pass (tool change to the engraving bit,
// its length on the probe) with its surface probing, and, once the surface is measured, the stages:
// engraving, drilling and outline for the top side; engraving and the flip frame for the bottom side.
// The job keeps the layers it was started with, so files loaded meanwhile do not change it.
//
// A bottom layout arrives mirrored about the middle of its own tool paths, but the board turns over
// about the middle of the flip frame, which is centred on all layers; the bottom side is milled moved
// along X by twice the difference, so that both sides meet once the board is turned.
class PcbJob
{
public:
    enum Layer { Top, Bottom, Drill, Outline, LayerCount };
    using Layers = std::array<PcbProgram, LayerCount>;

    // The mode's play/pause state is what the job's pause lines switch; it may be null.
    PcbJob(const Layers &layers, const PcbJobSettings &settings, const QVector3D &origin, Mode_PCB *mode);
    ~PcbJob();

    // The feed moves of all loaded layers, the bottom side where the design has it.
    static PathGeometry::Extent boardExtent(const Layers &layers);
    static float bottomShift(const Layers &layers);

    bool isEmpty() const { return boardExtent(m_layers).isEmpty(); }
    // "bot" while the bottom pass is ahead, else "top".
    QString side() const;
    bool hasTopSide() const;
    void finishBottomPass() { m_bottomDone = true; }

    // A new grid and frame for the pass; the tool change to the engraving bit, the pause, the tool probe.
    QList<SerialMessage *> startPass();
    QList<SerialMessage *> probing();
    // Why the stages cannot be composed (a height or the tool length never reported); empty when they can.
    QString missingMeasurement() const;
    // The stages of the side whose surface was measured; the last message is marked last.
    QList<SerialMessage *> stages(const QString &side);

    const ProbeGrid *grid() const { return m_grid.get(); }

private:
    void addLine(const QString &text);
    void addPrompt(const QString &content, const QString &promptText, int promptType);
    void addPause();
    void addPreamble();
    void addToolProbe();
    void addReReference();
    void addToolChange(const QString &promptText, int promptType);
    void addEngraving(Layer layer);
    void addDrilling();
    void addOutline();
    void addFlipOutline();
    void addNumbered(SerialMessage *message);
    void moveToFirstPoint();

    Layers m_layers;
    PcbJobSettings m_settings;
    QVector3D m_origin;
    Mode_PCB *m_mode;
    QList<SerialMessage *> m_messages;
    std::unique_ptr<ProbeGrid> m_grid;
    std::unique_ptr<TurnOutline> m_frame;
    QVector3D m_toolProbePoint;
    bool m_bottomDone = false;
};
