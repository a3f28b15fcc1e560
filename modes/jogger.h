#pragma once

#include <QDialog>
#include <QList>
#include <QScopedPointer>
#include <QVector2D>

namespace Ui {
class Jogger;
}
class SerialPort;

// Positioning and touch-off before an STL/DXF job: the user places the part (in the preview or by
// typing the machine X and Y of its origin), sends the spindle over a reference point of the part, and
// lowers the spinning bit in short jogs until it touches the stock. Confirming starts the job. Every
// action that moves the machine waits while the door is open and is carried out once it is closed.
class Jogger : public QDialog
{
    Q_OBJECT
public:
    // Reference points of the part, as the mode's moveTo() takes them.
    enum Position { Centre = 0, LowerLeft = 1, LowerRight = 2, UpperLeft = 3, UpperRight = 4 };
    // Actions held back while the door is open.
    enum Action { MoveToReference = 0, JogUp = 1, JogDown = 2, ManualPosition = 3 };

    explicit Jogger(QWidget *parent = nullptr);
    ~Jogger() override;

    void setSerialPort(SerialPort *port);
    float jogFeed() const { return feed; }
    bool isOpenForTouchOff() const { return touchOff; }
    QList<int> pendingActions() const { return pending; }

    void open() override;
    // Escape or the close button: the spindle is stopped, no job is started.
    void reject() override;
    // Closed by the mode when its job ends or is stopped; the job decides what the spindle does.
    void dismiss();

Q_SIGNALS:
    void moveTo(int pos_type);
    void setStart(QVector2D start_pos);
    void startMilling();
    void abord();

public Q_SLOTS:
    void on_joggingDown1_hover();
    void on_joggingDown1_pressed();
    void on_joggingDown1_released();
    void on_joggingDown2_pressed();
    void on_joggingDown2_released();
    void on_joggingDown3_pressed();
    void on_joggingDown3_released();
    void on_joggingDown4_pressed();
    void on_joggingDown4_released();
    void on_joggingDown5_pressed();
    void on_joggingDown5_released();
    void on_jogging_finished_clicked();
    void on_jogging_down_pressed();
    void on_jogging_down_released();
    void on_jogging_up_pressed();
    void on_jogging_up_released();
    void on_slider_jogging_speed_sliderMoved(int position);
    void on_slider_jogging_speed_valueChanged(int value);
    void on_radioButton_upper_left_clicked();
    void on_radioButton_center_clicked();
    void on_radioButton_upper_right_clicked();
    void on_radioButton_lower_left_clicked();
    void on_radioButton_lower_right_clicked();
    void on_j_manual_X_editingFinished();
    void on_j_manual_Y_editingFinished();
    void on_radioButton_manual_clicked();
    void doorIsClosed();

private:
    // True when the action may go ahead; otherwise it is kept for when the door is closed.
    bool doorAllows(Action action);
    void jogDownAt(float jogFeed);
    void jog(const QString &command);
    void stopJogging();
    void chooseReference(Position position);
    void applyManualPosition();
    void manualPositionEdited();
    void carryOut(int action);
    void send(const QString &line);

    QScopedPointer<Ui::Jogger> ui;
    const QString upJog;
    const QString downJog;
    const QString spindleOn;
    float feed = 100.0f;
    SerialPort *serialport = nullptr;
    int reference = Centre;
    bool touchOff = false;
    QList<int> pending;
};
