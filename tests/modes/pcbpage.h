#pragma once

#include "link/pcbserialmessage.h"
#include "modes/mode_pcb.h"
#include "settings/pcb_settings.h"
#include "tests/modes/mainpage.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QStackedWidget>

// The main page with the PCB mode shown, its calculation client pointed at a server of the test's
// choice, and the operator's part of a job: press play once the tool is changed at each pause.
class PcbPage
{
public:
    using Prompt = QPair<QString, int>;

    explicit PcbPage(quint16 serverPort)
    {
        main.page()->tcpSender()->setServer(QHostAddress::LocalHost, serverPort);
        // The engraving bit is measured where every later tool is: on the table's probe.
        setting("probe_position_x", QStringLiteral("173"));
        setting("probe_position_y", QStringLiteral("112.5"));
        QObject::connect(PCBSerialMessage::instance(), &PCBSerialMessage::openQTMessageBox, &listener,
                         [this](QString text, int type) { prompts << Prompt(text, type); });
        // Queued like the mode's own connection, so the text is read after the mode has shown it.
        QObject::connect(PCBSerialMessage::instance(), &PCBSerialMessage::setProgress, &listener,
                         [this](qint64) { progress << main.button("button_time")->text(); }, Qt::QueuedConnection);
    }

    bool connectToSimulator(const GrblSimulator::Options &options)
    {
        if (!main.connectToSimulator(options))
            return false;
        main.click("button_pcb");
        return true;
    }

    Mode_PCB *mode() const { return main.page()->findChild<Mode_PCB *>(); }

    void setting(const char *field, const QString &value)
    {
        main.page()->findChild<Pcb_Settings *>()->findChild<QLineEdit *>(QLatin1String(field))->setText(value);
    }

    QString label(PcbJob::Layer layer) const
    {
        static const char *const names[] = {"Label_TopLayout", "Label_BotLayout", "Label_DrillLayout", "Label_OutlineLayout"};
        return mode()->findChild<QLabel *>(QLatin1String(names[layer]))->text();
    }

    // Loads a design file whose answer the server already knows, and waits for that answer.
    bool load(PcbJob::Layer layer, const QString &path)
    {
        mode()->loadDesignFile(layer, path);
        return QTest::qWaitFor([&] { return label(layer) != QLatin1String("Calculating your file."); }, 240000);
    }

    // What the controller received after the test's start, real-time commands left out.
    QStringList lines() const
    {
        static const QRegularExpression realTime(QStringLiteral("^([!~?]|<0x..>)$"));
        QStringList program = main.received();
        program.erase(std::remove_if(program.begin(), program.end(),
                                     [](const QString &line) { return realTime.match(line).hasMatch(); }),
                      program.end());
        return program;
    }

    // Starts the job and plays it to its end: at every program pause the machine has reached, play
    // is pressed again, as the operator does after changing the tool. False when it did not end in time.
    bool run(int timeoutMs)
    {
        main.click("button_play_pause");
        int resumed = 0;
        QElapsedTimer clock;
        clock.start();
        while (mode()->isStarted()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            if (mode()->isPaused() && lines().count(QStringLiteral("M0")) > resumed) {
                QTest::qWait(20);
                main.click("button_play_pause");
                ++resumed;
            }
            QTest::qWait(5);
        }
        return true;
    }

    MainPage main;
    QObject listener;
    QList<Prompt> prompts;
    QStringList progress;
};
