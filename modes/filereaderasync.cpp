#include "modes/filereaderasync.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QTextStream>
#include <QtConcurrent>

FileReaderAsync::FileReaderAsync(QWidget *parent)
    : QWidget(parent)
    , lastDirectory(QDir::rootPath())
{
    connect(&watcher, &QFutureWatcher<QString>::finished, this, &FileReaderAsync::finishRead, Qt::QueuedConnection);
}

FileReaderAsync::~FileReaderAsync()
{
    watcher.waitForFinished();
}

void FileReaderAsync::openFile()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open file"), lastDirectory.path(),
                                                      QStringLiteral("All files (*.*)"));
    if (!path.isEmpty())
        readFile(path);
}

void FileReaderAsync::readFile(const QString &path)
{
    lastDirectory.setPath(path);
    done = false;
    readResult = QtConcurrent::run(this, &FileReaderAsync::readStep, path);
    watcher.setFuture(readResult);
    loop.exec();
    const QString error = readResult.result();
    if (!error.isEmpty()) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("File Error"), error, QMessageBox::Ok);
        box.exec();
    }
}

QString FileReaderAsync::readText(const QString &path, QString *text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return file.errorString();
    text->clear();
    QTextStream stream(&file);
    while (!stream.atEnd())
        *text += stream.readLine() + QLatin1Char('\n');
    return QString();
}

// Runs on a pool thread while the window waits; the text is touched by nobody else meanwhile.
QString FileReaderAsync::readStep(const QString &path)
{
    return readText(path, &text);
}

void FileReaderAsync::finishRead()
{
    done = true;
    loop.quit();
    Q_EMIT fileReaded();
}

QString FileReaderAsync::fileName() const
{
    return lastDirectory.path().split(QLatin1Char('/')).last();
}
