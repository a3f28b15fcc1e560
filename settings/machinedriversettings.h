#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class QGroupBox;

namespace Ui {
class MachineDriverSettings;
}

// Edits the two configuration registers of one axis' stepper driver chip and shows its fault register.
// Registers travel as 16 characters '0'/'1', most significant bit first; the first two characters are the
// register address, so the board knows which register a word is meant for.
class MachineDriverSettings : public QWidget
{
    Q_OBJECT
public:
    explicit MachineDriverSettings(QWidget *parent = nullptr);
    ~MachineDriverSettings() override;

    void setDriverName(const QString &name);
    QString driverName() const { return m_driverName; }

    QString config0Word() const;
    QString config1Word() const;

    // Both take the 32-character payload of the board's reply. A payload that is shorter or holds anything
    // but '0' and '1' is refused and leaves the page as it was.
    bool applyConfig(const QString &payload);
    bool showFaults(const QString &payload);

Q_SIGNALS:
    void writeMessage(const QString &message);

private Q_SLOTS:
    void on_Config0_ButtonSave_clicked();
    void on_Config0_ButtonTest_clicked();
    void on_Config1_ButtonSave_clicked();
    void on_Config1_ButtonTest_clicked();
    void on_Fault_ButtonCheck_clicked();

private:
    void sendWord(QChar action, const QString &word);
    void showTemperature(QChar hot, QChar cold);

    std::unique_ptr<Ui::MachineDriverSettings> ui;
    QString m_driverName;
};
