#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

#include "tools/grblsim/driverregisters.h"
#include "tools/grblsim/gcodeblock.h"
#include "tools/grblsim/grblsettings.h"
#include "tools/grblsim/motionplanner.h"
#include "tools/grblsim/probesurface.h"
#include "tools/grblsim/statusreporter.h"

class MotionLog;
class QTimer;

// The controller behind the serial buffer: GRBL 1.1h's main loop with its real-time commands,
// alarms, system commands, G-code execution and motion, answering as the firmware does. Everything
// it prints goes out through answer(); what the machine does goes to the motion log.
class SimulatedMachine : public QObject
{
    Q_OBJECT
public:
    struct Config {
        double timeScale = 0.0;         // simulated seconds per real second; 0: motion takes no time
        ProbeSurface surface{ProbeSurface::Kind::Flat, 0.0};
        int eepromWriteMs = 5;
        int alarmPauseMs = 500;
        QMap<int, double> storedSettings;   // in EEPROM before the first power-up
    };

    SimulatedMachine(const Config &config, MotionLog *log, QObject *parent = nullptr);

    // Power and the serial side. The main loop takes characters only while takesCharacters();
    // a complete line then waits while waitsAtLineEnd() (a hold, the door, a jog cancel).
    void powerUp();
    void restart();                     // power lost: state and position gone, EEPROM kept
    bool takesCharacters() const;
    bool waitsAtLineEnd() const { return isSuspended(); }
    bool waitsForHost() const { return isSuspended() || m_halted; }   // makes no room in the buffer by itself
    void executeLine(const QByteArray &rawLine);
    void realtime(char byte);           // as the serial interrupt takes it
    void settle();                      // the main loop's real-time check point
    void setReceiveBufferFree(std::function<int()> freeBytes) { m_receiveBufferFree = std::move(freeBytes); }

    QString setting(int number) const { return m_settings.value(number); }
    void triggerHardLimit();
    void setDoorOpen(bool open);
    void setProbeMisses(bool misses) { m_probeMisses = misses; }

Q_SIGNALS:
    void answer(const QString &line);
    void readyForInput();               // the main loop may take characters again
    void eepromWriteStarted(int ms);    // the serial port is deaf for this long
    void receiveBufferFlushed();        // a reset empties the serial buffer
    void note(const QString &text);     // something a test log should show

private:
    enum class State { Idle, Alarm, Check, Homing, Cycle, Hold, Jog, Door, Sleep };

    // One motion for the planner, as mc_line receives it.
    struct Move {
        SimulatedMotion motion;
        Axes target{};
        bool checked = false;           // soft limits looked at
    };

    // Lines and their answers
    void startLine(const QString &text, std::function<void(int)> onFinished);
    void finish(int status);
    void answerLine(int status);
    void lineDone();
    static QString statusText(int status);
    int executeSystemCommand(const QString &line);
    int executeStateCommand(QChar command);
    int executeIdleCommand(const QString &line);
    int executeSetting(const QString &line);
    int storeStartupLine(int index, const QString &block);
    int restoreDefaults(QChar what);
    int writeEeprom(std::function<void()> store);
    void writeEepromThen(std::function<void()> store, std::function<void()> then);
    int unlock();
    int toggleCheckMode();
    int sleep();
    void reportParameters();
    void runStartupLines(std::function<void()> then);
    void runNextStartupLine();

    // G-code (GRBL's execution step, stage by stage; a stage may wait for the motion)
    int executeGcode(const QString &line, bool jog = false);
    void continueBlock();
    bool runStage(int stage);
    bool syncSpindle();
    bool syncCoolant();
    bool dwell();
    void applyModes();
    bool applyNonModal();
    bool startMotion();
    std::deque<Move> arcMoves() const;
    bool programFlow();
    int executeJog();
    void queueMoves(std::deque<Move> moves, std::function<void()> then);
    void queueNextMove();
    void planMove(const Move &move, double contactDistance = -1.0);
    Move makeMove(SimulatedMotion::Kind kind, const Axes &from, const Axes &target) const;
    bool outsideTravel(const Axes &target) const;
    void softLimit();
    bool probe();
    void finishProbe(bool contact);
    Axes syncPosition();
    Axes toSteps(const Axes &position) const;
    Axes workOffset() const;

    // Homing
    int startHoming();
    void homeCycle(unsigned axes, int phase, std::function<void()> then);
    void finishHoming();

    // Motion and waiting
    double simNow() const;
    void refreshMotion();
    void motionFinished(SimulatedMotion motion);
    void probeContact(const Axes &position);
    void waitUntil(std::function<bool()> condition, std::function<void()> then, bool throughSuspend = false);
    void waitFor(double simulatedSeconds, std::function<void()> then);
    void afterSync(std::function<void()> then);
    void checkWaiting();
    void abandonWaiting();
    bool moving() const;

    // Real-time commands, alarms and resets
    void serveRealtime();
    void serveStatus();
    void feedHold();
    void cycleStart();
    void doorRestored();
    void resumeCycle();
    void cancelJog();
    void openDoor();
    static int stepped(int percent, unsigned bits);
    void changeOverrides();
    void requestReset();
    void raiseAlarm(int code, std::function<void()> then = {});
    void endAlarmPause();
    void abort();
    void reinitialise(bool poweringUp);
    void forgetRealtimeCommands();
    void printBanner();
    bool isSuspended() const;

    // Reports
    QString statusReport();
    QString stateName() const;
    QString parserState() const;
    bool spindleRuns() const;
    double spindleRpm() const;

    Config m_config;
    MotionLog *m_log;
    GrblSettings m_settings;
    MotionPlanner m_planner;
    ProbeSurface m_surface;
    DriverRegisters m_drivers;
    StatusReporter m_reporter;
    QTimer *m_motionTimer;
    QTimer *m_delayTimer;               // EEPROM writes, dwells, debounce, door restore
    QTimer *m_pauseTimer;               // the pause after an ALARM line
    QTimer *m_reportTimer;              // status requests close together become one report
    QTimer *m_doorTimer;                // spindle and coolant starting again after the door
    QElapsedTimer m_clock;
    std::function<int()> m_receiveBufferFree;

    // System state
    bool m_powered = false;
    State m_state = State::Idle;
    bool m_jogCancel = false;           // a cancelled jog is still slowing down
    bool m_doorRestoring = false;       // Door:3, spindle and coolant coming back
    bool m_doorOpen = false;            // the door switch
    bool m_doorDuringJog = false;
    bool m_accessoriesOff = false;      // spindle and coolant stopped by the door or a reset
    bool m_probeMisses = false;
    bool m_spindleStopOverride = false;
    int m_feedOverride = 100;
    int m_rapidOverride = 100;
    int m_spindleOverride = 100;

    // Real-time flags, as the serial interrupt leaves them for the main loop
    bool m_statusRequested = false;
    bool m_holdRequested = false;
    bool m_startRequested = false;
    bool m_doorRequested = false;
    bool m_jogCancelRequested = false;
    bool m_sleepRequested = false;
    bool m_resetRequested = false;
    unsigned m_motionOverrides = 0;     // bits as the interrupt sets them: repeats merge
    unsigned m_accessoryOverrides = 0;
    int m_pendingAlarm = 0;
    qint64 m_lastReportUs = -1000000;

    // The main loop
    bool m_lineInWork = false;
    bool m_aborting = false;
    bool m_halted = false;              // after a hard or soft limit: nothing but a reset
    bool m_criticalPause = false;
    std::function<void(int)> m_onFinished;
    std::function<bool()> m_waitCondition;
    std::function<void()> m_afterWait;
    bool m_waitThroughSuspend = false;
    std::function<void()> m_afterPause;
    QString m_line;                     // the line in work, as received
    QStringList m_startupQueue;
    std::function<void()> m_afterStartup;

    // The parser and the G-code in work
    GcodeState m_gc;
    StoredCoordinates m_stored;
    QString m_startupLines[2];
    QString m_buildInfo;
    GcodeBlock m_block;
    int m_stage = 0;
    std::deque<Move> m_moves;
    std::function<void()> m_afterMoves;
    Axes m_plannedPosition{};           // where the planner's last block ends, on the step grid
    Axes m_probePosition{};
    bool m_probeSucceeded = false;
    bool m_probeTouched = false;
    Axes m_switches{};                  // where the limit switches are, in machine coordinates
};
