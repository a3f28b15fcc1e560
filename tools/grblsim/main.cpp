#include "tools/grblsim/grblsimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2];

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the event loop normally, so the device link is removed on the way out.
void quitOnTerminationSignals(QCoreApplication &app)
{
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe);
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool parseSurface(const QString &name, GrblSimulator::Surface *surface)
{
    if (name == QLatin1String("flat"))
        *surface = GrblSimulator::Surface::Flat;
    else if (name == QLatin1String("tilted"))
        *surface = GrblSimulator::Surface::Tilted;
    else if (name == QLatin1String("bumpy"))
        *surface = GrblSimulator::Surface::Bumpy;
    else if (name == QLatin1String("bowed"))
        *surface = GrblSimulator::Surface::Bowed;
    else
        return false;
    return true;
}

// "N=V" pairs, as if stored with "$N=V" before power-up.
bool parseSettings(const QStringList &pairs, QMap<int, double> *settings)
{
    for (const QString &pair : pairs) {
        const QStringList parts = pair.split(QLatin1Char('='));
        bool numberOk = false, valueOk = false;
        const int number = parts.value(0).toInt(&numberOk);
        const double value = parts.value(1).toDouble(&valueOk);
        if (parts.size() != 2 || !numberOk || !valueOk)
            return false;
        settings->insert(number, value);
    }
    return true;
}
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("grblsim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated GRBL 1.1h controller on a pseudo-terminal. Prints the device path."));
    parser.addHelpOption();
    const QCommandLineOption link(QStringLiteral("link"), QStringLiteral("Make a symbolic link to the device."), QStringLiteral("PATH"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Append every received line to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption timeScale(QStringLiteral("time-scale"), QStringLiteral("Motion time scale; 0 completes moves at once."), QStringLiteral("S"), QStringLiteral("0"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Pace both directions like a 115200-baud line."));
    const QCommandLineOption chunked(QStringLiteral("chunked"), QStringLiteral("Split answers into random chunks."));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed for the random chunking."), QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption motionLog(QStringLiteral("motion-log"), QStringLiteral("Write every executed motion and answered line to FILE."), QStringLiteral("FILE"));
    const QCommandLineOption setting(QStringLiteral("setting"), QStringLiteral("Store $N=V in the EEPROM before power-up (repeatable)."), QStringLiteral("N=V"));
    const QCommandLineOption bootMs(QStringLiteral("boot-ms"), QStringLiteral("Milliseconds from opening the device to the banner."), QStringLiteral("MS"), QStringLiteral("1000"));
    const QCommandLineOption surface(QStringLiteral("surface"), QStringLiteral("Probed work surface: flat, tilted, bumpy or bowed."), QStringLiteral("KIND"), QStringLiteral("flat"));
    const QCommandLineOption bow(QStringLiteral("bow"), QStringLiteral("Bowed surface: rise of the board's middle above its edges in mm."), QStringLiteral("MM"), QStringLiteral("0.2"));
    // Homing leaves the tool at machine Z0 and the host's tool probe reaches 65 mm down: a surface
    // 20 mm below gives every probe something to touch.
    const QCommandLineOption surfaceZ(QStringLiteral("surface-z"), QStringLiteral("Machine Z of the surface at X0 Y0 (default -20)."), QStringLiteral("Z"), QStringLiteral("-20"));
    parser.addOptions({link, log, motionLog, setting, bootMs, timeScale, baud, chunked, seed, surface, bow, surfaceZ});
    parser.process(app);

    QTextStream err(stderr);
    GrblSimulator::Options options;
    bool scaleOk = false, seedOk = false, zOk = false, bootOk = false, bowOk = false;
    options.motionTimeScale = parser.value(timeScale).toDouble(&scaleOk);
    options.seed = parser.value(seed).toUInt(&seedOk);
    options.surfaceZ = parser.value(surfaceZ).toDouble(&zOk);
    options.bootMs = parser.value(bootMs).toInt(&bootOk);
    options.bowSagitta = parser.value(bow).toDouble(&bowOk);
    if (!scaleOk || options.motionTimeScale < 0.0 || !seedOk || !zOk || !bootOk || options.bootMs < 0 || !bowOk
        || !parseSurface(parser.value(surface), &options.surface) || !parseSettings(parser.values(setting), &options.settings)) {
        err << "grblsim: invalid option value; see --help\n";
        return 2;
    }
    // A program of its own is watched through its log files; it keeps nothing else of a long run.
    options.keepRecords = false;
    options.emulateBaud = parser.isSet(baud);
    options.chunkedAnswers = parser.isSet(chunked);
    options.linkPath = parser.value(link);
    options.logPath = parser.value(log);
    options.motionLogPath = parser.value(motionLog);

    GrblSimulator simulator(options);
    if (!simulator.start()) {
        err << "grblsim: " << simulator.errorString() << '\n';
        return 1;
    }
    QTextStream(stdout) << simulator.devicePath() << Qt::endl;
    quitOnTerminationSignals(app);
    // Started by a script or a test, it must not outlive it, even when that process is killed.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int result = app.exec();
    simulator.stop();
    return result;
}
