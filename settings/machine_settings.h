#pragma once

#include <QMap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class MachineDriverSettings;
class QLabel;
class QLineEdit;
class SerialPort;

namespace Ui {
class Machine_Settings;
}

// The controller's GRBL "$" settings as the controller reports them, written back one second after the
// last edit; the worktable size and grid of the preview; the advanced area with the stepper driver pages.
class Machine_Settings : public QWidget
{
    Q_OBJECT
public:
    static constexpr int settingSlots = 151;

    explicit Machine_Settings(QWidget *parent = nullptr);
    ~Machine_Settings() override;

    // Handed over by the Maschine hub; without a connection writes are dropped.
    void setSerialPort(SerialPort *port);
    MachineDriverSettings *driverPage(int driver) const;

Q_SIGNALS:
    void tableChanged(float table_x, float table_y, float grid_x, float grid_y);

public Q_SLOTS:
    void updateGRBLSetting(const QString &nr, const QString &value);
    void successGRBLSetting(const QString &nr, const QString &value, bool status);
    void lineEditChanged(const QString &text);
    void sendMessages();
    void writeMessage(const QString &message);
    void getUsbKorvexMessage(const QString &arg1);

private Q_SLOTS:
    void on_table_x_textEdited(const QString &arg1);
    void on_table_y_textEdited(const QString &arg1);
    void on_grid_x_textEdited(const QString &arg1);
    void on_grid_y_textEdited(const QString &arg1);
    void on_checkBox_AdvancedSettings_stateChanged(int state);
    void on_DriverTabs_currentChanged(int index);

private:
    void collectSettingWidgets();
    void loadWorktable();
    void storeWorktableValue(const char *column, const QString &text);
    void announceWorktable();
    void checkRequiredSetting(int number, const QString &text);
    void warn(const QString &text);
    void markStatus(int number, bool saved);
    void queueLine(const QString &text);

    std::unique_ptr<Ui::Machine_Settings> ui;
    std::array<QLineEdit *, settingSlots> m_valueFields{};
    std::array<QLabel *, settingSlots> m_statusLabels{};
    // The last text typed into each setting, by number, until the send timer fires.
    QMap<int, QString> m_pendingWrites;
    QTimer m_sendTimer;
    QPointer<QLabel> m_lastMarkedLabel;
    QPointer<SerialPort> m_connection;
};
