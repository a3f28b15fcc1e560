#pragma once

#include <QMap>
#include <QVector3D>
#include <QWidget>

#include <memory>

class Machine_Settings;
class Pcb_Settings;
class QDataWidgetMapper;
class QPushButton;
class QSqlRelationalTableModel;

namespace Ui {
class Settings;
}

// The settings page: PCB settings, GRBL machine settings, the materials with their cutters, and the
// fixed machine positions, one stack page each.
class Settings : public QWidget
{
    Q_OBJECT
public:
    explicit Settings(QWidget *parent = nullptr);
    ~Settings() override;

    // Cutting parameters for a cutter of the given diameter in the named material: a stored diameter is
    // taken as is, one between two stored cutters is interpolated, anything outside the stored range fails.
    // The outputs are only written on success.
    static bool lookupCutter(const QString &materialName, float diameter, float &speed, float &feedrate, float &depth);

    QVector3D calibrationPosition() const { return m_calibrationPosition; }
    QVector3D tableOffset() const { return m_tableOffset; }
    float calibrationHeight() const { return m_calibrationHeight; }

    Pcb_Settings *pcbSettings() const;
    Machine_Settings *machineSettings() const;
    int currentMaterial() const { return m_currentMaterial; }

    // Inserts a material and shows it; false when the database refuses the name (empty or taken).
    bool addMaterial(const QString &name);

    // Connected by pointer, not by name: there is no form widget of this name.
    void on_material_button_clicked();

public Q_SLOTS:
    void add_new_Material();

private Q_SLOTS:
    void on_button_settings_machine_clicked();
    void on_button_settings_pcb_clicked();
    void on_button_settings_stl_clicked();
    void on_button_settings_position_clicked();
    void on_toolButton_69_clicked();

private:
    void setupCutterTable();
    void setupMaterialStrip();
    void addMaterialButton(const QString &name, const QString &imagePath);
    void showMaterial(int id, const QString &name);
    void showPage(int index, QPushButton *chosen);
    int rowOfMaterial(int id) const;

    std::unique_ptr<Ui::Settings> ui;
    QSqlRelationalTableModel *m_cutterModel;
    QSqlRelationalTableModel *m_materialModel;
    QDataWidgetMapper *m_descriptionMapper;
    QMap<QString, int> m_materialIds;
    int m_currentMaterial = 1;
    const QVector3D m_calibrationPosition{173.0f, 112.5f, 0.0f};
    const QVector3D m_tableOffset{0.0f, 0.0f, 0.0f};
    const float m_calibrationHeight = 2.0f;
};
