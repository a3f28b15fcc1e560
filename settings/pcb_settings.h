#pragma once

#include <QVector3D>
#include <QWidget>

#include <memory>

class QLineEdit;

namespace Ui {
class Pcb_Settings;
}

// Where the PCB blank lies, its size, the probe position and the three PCB bits. Each field is named after
// the column of the "current" machine profile it edits, and every keystroke is stored at once.
class Pcb_Settings : public QWidget
{
    Q_OBJECT
public:
    explicit Pcb_Settings(QWidget *parent = nullptr);
    ~Pcb_Settings() override;

    float drillFeedrate() const;
    float outlineMillDepth() const;
    float outlineDiameter() const;
    float outlineFeedrate() const;
    float getPCBHeight() const;
    QVector3D probePosition() const;

    // Emits size, position and probe position from the current fields, so a new view starts in step.
    void announceGeometry();

Q_SIGNALS:
    void pcbPositionChanged(float x, float y, float z);
    void pcbSizeChanged(float x, float y, float z);
    void pcbProbePositionChanged(float x, float y, float z);

public Q_SLOTS:
    void lineEditChanged(const QString &text);

private Q_SLOTS:
    void on_pcb_position_x_textEdited(const QString &);
    void on_pcb_position_y_textEdited(const QString &);
    void on_pcb_size_x_textEdited(const QString &);
    void on_pcb_size_y_textEdited(const QString &);
    void on_pcb_size_z_textEdited(const QString &);
    void on_probe_position_x_textEdited(const QString &);
    void on_probe_position_y_textEdited(const QString &);

private:
    void loadCurrentProfile();
    void announcePosition();
    void announceSize();
    void announceProbePosition();

    std::unique_ptr<Ui::Pcb_Settings> ui;
};
