#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>

#include "tools/grblsim/motionlog.h"
#include "tools/grblsim/probesurface.h"
#include "tools/grblsim/pseudoterminal.h"

class QFile;
class QSocketNotifier;
class QTimer;
class SimulatedMachine;

// A simulated GRBL 1.1 controller (with the Korvex vendor extension) behind a pseudo-terminal pair.
// Tests run it in-process: the client opens devicePath() with a real QSerialPort. It is event driven
// (QSocketNotifier on the master side), so it works on the test's own thread; it may also be moved to
// a QThread of its own when a test needs the client to block.
//
// This class is the serial side of the board: the wire (optionally paced like 115200 baud), the
// 128-character receive buffer with its losses, the real-time bytes taken out of the stream, and
// the answers going back. The controller itself is SimulatedMachine; what it did is in motions()
// and answeredLines().
class GrblSimulator : public QObject
{
    Q_OBJECT
public:
    using Surface = ProbeSurface::Kind;

    struct Options {
        double motionTimeScale = 0.0;   // 0: motion completes at once; 1: real time, with acceleration
        bool emulateBaud = false;       // pace answers and input like a 115200-baud 8N1 line
        bool chunkedAnswers = false;    // split answers into random chunks
        quint32 seed = 1;               // for chunking and any other randomness
        QString logPath;                // when set, every received line is appended here as it arrives
        QString linkPath;               // when set, a symlink to the device is made here
        QString motionLogPath;          // when set, every executed motion and answered line is written here
        Surface surface = Surface::Flat;
        double surfaceZ = -20.0;        // height of the simulated work surface at X0 Y0 (machine Z)
        double bowSagitta = 0.2;        // Bowed: how far the middle of the board rises above its edges,
        double bowCentreX = 50.0;       //   and where that middle lies (machine X, Y)
        double bowCentreY = 40.0;
        int eepromWriteMs = -1;         // how long a settings write ignores the serial port; -1: 5 ms, 30 ms with emulateBaud
        int bootMs = 1000;              // from a client opening the device to the banner
        QMap<int, double> settings;     // `$` settings stored in the EEPROM before power-up, e.g. {{22, 1}}
        bool keepRecords = true;        // false: received lines, motions and answers only go to the log
                                        //   files, so a run of millions of lines stays small
    };

    static constexpr int ReceiveBufferSize = 128;

    explicit GrblSimulator(QObject *parent = nullptr);
    explicit GrblSimulator(const Options &options, QObject *parent = nullptr);
    ~GrblSimulator() override;

    // Opens the pty pair. Like an Arduino-based board, which restarts when a host opens its port,
    // the controller restarts on every open of the device and prints its banner bootMs later.
    // (Only where opens cannot be watched is the banner printed at once.)
    bool start();
    void stop();                        // closes the master side: the client sees its port fail
    QString devicePath() const;         // the slave device (or linkPath when set)
    QString errorString() const { return m_error; }

    QStringList receivedLines() const;  // every line received, in order (real-time bytes noted as "<0x85>" etc.)
    QVector<SimulatedMotion> motions() const { return m_motionLog.motions(); }    // in the order executed
    QVector<AnsweredLine> answeredLines() const { return m_motionLog.lines(); }
    int cutsWithSpindleStopped() const { return m_motionLog.cutsWithSpindleStopped(); }
    ProbeSurface surface() const { return m_surface; }
    int overflowCount() const;          // characters that arrived while the 128-character buffer was full
    int droppedDuringEepromWrite() const;
    QString setting(int number) const;  // current value of $number

    void softReset();                   // as if 0x18 had arrived: banner again
    void triggerHardLimit();            // ALARM:1, then locked until a reset
    void setDoorOpen(bool open);        // "[MSG:Check Door]" on opening; status shows Door:1 / Door:0
    void setProbeMisses(bool misses);   // G38.2 then answers ALARM:5, "[PRB:...:0]", "ok"

Q_SIGNALS:
    void lineReceived(const QString &line);

private:
    struct WireByte {
        char byte;
        qint64 arrivalUs;
    };

    void readMaster();
    void restartOnOpen();
    void discardInput();
    void deliverArrivedBytes();
    void receiveByte(char byte);
    void takeRealtime(char byte);
    bool takeDeferredRealtime();
    void logLosses();
    void processInput();
    void completeLine();
    void record(const QString &line);
    void logText(const QString &text);
    void queueAnswer(const QString &line);
    void writeOutput();
    void scheduleWireTimer(qint64 dueUs);
    bool eepromBusy() const;
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }
    template<typename F> void inOwnThread(F &&function);

    Options m_options;
    QString m_error;
    PseudoTerminal m_pty;
    ProbeSurface m_surface;
    MotionLog m_motionLog;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QSocketNotifier *m_openNotifier = nullptr;
    QTimer *m_wireTimer = nullptr;      // the next byte from the client is due
    QTimer *m_outputTimer = nullptr;    // the next piece of an answer may go
    QTimer *m_bootTimer = nullptr;      // the board is starting: input is ignored
    SimulatedMachine *m_machine = nullptr;
    std::unique_ptr<QFile> m_log;
    QElapsedTimer m_clock;
    QRandomGenerator m_random;

    std::deque<WireByte> m_wire;        // sent by the client, not yet arrived at the controller
    qint64 m_inputWireFreeUs = 0;
    QByteArray m_receiveBuffer;         // the controller's 128-character serial buffer
    QByteArray m_deferredRealtime;      // real-time bytes waiting for room in the receive buffer
    QByteArray m_line;                  // the line being assembled from the buffer
    bool m_lineComplete = false;        // its end has been read; it waits for the controller
    int m_lostInBurst = 0;              // losses not yet noted in the log
    int m_eepromLostInBurst = 0;
    int m_bootLostInBurst = 0;
    QByteArray m_output;                // answers not yet written to the wire
    qint64 m_outputWireFreeUs = 0;
    qint64 m_eepromBusyUntilUs = 0;

    mutable QMutex m_recordMutex;
    QStringList m_received;
    std::atomic<int> m_overflow{0};
    std::atomic<int> m_eepromDropped{0};
};
