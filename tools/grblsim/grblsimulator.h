#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// A simulated GRBL 1.1 controller (with the Korvex vendor extension) behind a pseudo-terminal pair.
// Tests run it in-process: the client opens devicePath() with a real QSerialPort. It is event driven
// (QSocketNotifier on the master side), so it works on the test's own thread; it may also be moved to
// a QThread of its own when a test needs the client to block.
class GrblSimulator : public QObject
{
    Q_OBJECT
public:
    enum class Surface { Flat, Tilted, Bumpy };

    struct Options {
        double motionTimeScale = 0.0;   // 0: motion completes at once; 1: real time at the programmed feed
        bool emulateBaud = false;       // pace answers and input like a 115200-baud 8N1 line
        bool chunkedAnswers = false;    // split answers into random chunks
        quint32 seed = 1;               // for chunking and any other randomness
        QString logPath;                // when set, every received line is appended here as it arrives
        QString linkPath;               // when set, a symlink to the device is made here
        Surface surface = Surface::Flat;
        double surfaceZ = 0.0;          // height of the simulated work surface at X0 Y0 (machine Z)
    };

    explicit GrblSimulator(QObject *parent = nullptr);
    explicit GrblSimulator(const Options &options, QObject *parent = nullptr);
    ~GrblSimulator() override;

    bool start();                       // opens the pty pair and prints the banner
    void stop();                        // closes the master side: the client sees its port fail
    QString devicePath() const;         // the slave device (or linkPath when set)

    QStringList receivedLines() const;  // every line received, in order (real-time bytes noted as "<0x85>" etc.)
    int overflowCount() const;          // characters that arrived while the 128-character buffer was full
    int droppedDuringEepromWrite() const;
    QString setting(int number) const;  // current value of $number

    void softReset();                   // as if 0x18 had arrived: banner again
    void triggerHardLimit();            // ALARM:1
    void setDoorOpen(bool open);        // "[MSG:Check Door]" on opening; status shows Door:1 / Door:0
    void setProbeMisses(bool misses);   // G38.2 then answers ALARM:5, "[PRB:...:0]", "ok"

Q_SIGNALS:
    void lineReceived(const QString &line);
};
