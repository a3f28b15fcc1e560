#pragma once

#include <QDir>
#include <QEventLoop>
#include <QFuture>
#include <QFutureWatcher>
#include <QString>
#include <QWidget>

// Lets the user pick a text file and reads it on a pool thread while the window stays responsive.
class FileReaderAsync : public QWidget
{
    Q_OBJECT
public:
    explicit FileReaderAsync(QWidget *parent = nullptr);
    ~FileReaderAsync() override;

    // Asks for a file and reads it; nothing happens when the user cancels.
    void openFile();
    // Reads the file, each line followed by "\n"; a failure is shown in a "File Error" box.
    void readFile(const QString &path);

    // A file's text as every design file is read: each line followed by "\n". Returns the error, or
    // an empty text when the file was read.
    static QString readText(const QString &path, QString *text);

    QString fileText() const { return text; }
    QString fileName() const;
    // The whole path of the file read last.
    QString filePath() const { return lastDirectory.path(); }
    bool isDone() const { return done; }

Q_SIGNALS:
    void fileReaded();

public Q_SLOTS:
    void finishRead();

private:
    QString readStep(const QString &path);

    QFutureWatcher<QString> watcher;
    QEventLoop loop;
    QDir lastDirectory;
    QFuture<QString> readResult;
    QString text;
    bool done = false;
};
