#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Answers every message box a test provokes with OK and remembers what it said.
class MessageBoxCatcher : public QObject
{
public:
    struct Shown {
        QString title;
        QString text;
    };

    explicit MessageBoxCatcher(QObject *parent = nullptr)
        : QObject(parent)
    {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::answer);
        m_timer.start(5);
    }

    QList<Shown> shown;

    QStringList texts() const
    {
        QStringList result;
        for (const Shown &box : shown)
            result << box.title + QLatin1Char('/') + box.text;
        return result;
    }

private:
    void answer()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        shown.append({box->windowTitle(), box->text()});
        box->done(QMessageBox::Ok);
    }

    QTimer m_timer;
};
