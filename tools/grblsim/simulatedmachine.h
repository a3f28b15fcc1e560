#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

#include "tools/grblsim/driverregisters.h"
#include "tools/grblsim/grblsettings.h"
#include "tools/grblsim/grblsimulator.h"
#include "tools/grblsim/motionplanner.h"
#include "tools/grblsim/probesurface.h"

class GcodeBlock;
class QTimer;

// The controller behind the serial buffer: interprets lines, runs the simulated motion and
// answers as GRBL 1.1h does. Everything it prints goes out through answer().
class SimulatedMachine : public QObject
{
    Q_OBJECT
public:
    struct Config {
        double timeScale = 0.0;
        GrblSimulator::Surface surface = GrblSimulator::Surface::Flat;
        double surfaceZ = 0.0;
        int eepromWriteMs = 5;
    };

    explicit SimulatedMachine(const Config &config, QObject *parent = nullptr);

    void powerUp();
    void restart();                     // power lost: state and position gone, settings kept
    bool acceptsLine() const;
    bool isSuspended() const;           // waits for "~" or a reset, takes no characters until then
    void executeLine(const QByteArray &rawLine);
    void realtime(char byte);

    QString setting(int number) const { return m_settings.value(number); }
    void triggerHardLimit();
    void setDoorOpen(bool open);
    void setProbeMisses(bool misses) { m_probeMisses = misses; }

Q_SIGNALS:
    void answer(const QString &line);
    void readyForInput();               // the controller may take lines again
    void eepromWriteStarted(int ms);    // the serial port is deaf for this long
    void receiveBufferFlushed();        // a reset empties the serial buffer

private:
    enum class Lock { None, Alarm, ResetRequired };

    // Lines. The int results are GRBL status codes, or Deferred when the answer comes later.
    void conclude(int status);
    void finishLine(int status);
    int executeSystemCommand(const QString &line);
    int executeStoredCommand(const QString &line);
    int writeEeprom(std::function<void()> store = {});
    int unlock();
    int toggleCheckMode();
    void reportParameters();
    int startHoming();
    int executeJog(const QString &command);
    int executeGcode(const QString &line);
    int executeParsed(const GcodeBlock &block);
    int executeBlock(const GcodeBlock &block);
    void applyModalWords(const GcodeBlock &block);
    int executeNonModal(const GcodeBlock &block, int flow);
    int queueArc(const GcodeBlock &block, const Axes &target, int flow);
    int queueMotion(const MotionPlanner::Block &block, int flow);
    int endBlock(int flow);
    int dwell(double seconds, int flow);
    int probe(const Axes &target, int motion, int flow);
    Axes targetOf(const GcodeBlock &block, bool inches, bool machineCoordinates, bool incremental) const;
    double rateLimit(const Axes &from, const Axes &to, double feed) const;
    Axes workOffset() const;

    // Motion and waiting
    void queueBlock(const MotionPlanner::Block &block);
    void refreshMotion();
    void waitUntil(std::function<bool()> condition, std::function<void()> then);
    void checkWaiting();
    void abandonWaiting();
    bool isIdle() const;
    bool isIdleOrAlarm() const;

    // Real-time commands and outside events
    void feedHold();
    void cycleStart();
    void cancelJog();
    void openDoor();
    void raiseAlarm(int code, Lock lock);
    void softReset();
    void printBanner();

    // Reports
    QString statusReport();
    QString parserState() const;
    QString stateName() const;
    static QString formatAxes(const Axes &axes);
    qint64 nowUs() const;

    Config m_config;
    GrblSettings m_settings;
    MotionPlanner m_planner;
    ProbeSurface m_surface;
    DriverRegisters m_drivers;
    QTimer *m_motionTimer;
    QTimer *m_delayTimer;               // EEPROM writes and dwells
    QElapsedTimer m_clock;

    Lock m_lock = Lock::None;
    bool m_held = false;                // feed hold or program pause: no line is taken
    bool m_doorActive = false;
    bool m_doorOpen = false;
    bool m_homing = false;
    bool m_checkMode = false;
    bool m_probeMisses = false;
    std::function<bool()> m_waitCondition;  // the line in work waits for this ...
    std::function<void()> m_afterWait;      // ... then finishes with this

    // The parser's modal state, restored when a line fails.
    struct Modal {
        int motion = 0;                 // tenths: 0, 10, 20, 30, 382 ..., 800
        bool incremental = false;
        bool inches = false;
        int plane = 170;
        int coordinateSystem = 0;       // G54 + n
        double feed = 0.0;              // mm/min
        double spindleSpeed = 0.0;
        int spindle = 5;                // M3, M4, M5
        int coolant = 9;                // M7, M8, M9
        int tool = 0;
    };

    Modal m_modal;
    Axes m_plannedPosition{};           // machine position where the last queued block ends
    Axes m_coordinateOffsets[6]{};      // G54..G59
    Axes m_g92Offset{};
    Axes m_g28Position{};
    Axes m_g30Position{};
    Axes m_probePosition{};
    bool m_probeSucceeded = false;
    QString m_buildInfo;
    QString m_startupLines[2];
    int m_reportCounter = 0;
};
