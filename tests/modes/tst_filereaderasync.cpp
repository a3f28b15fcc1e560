#include "modes/filereaderasync.h"
#include "tests/modes/messageboxcatcher.h"

#include <QSignalSpy>
#include <QtTest>

class TstFileReaderAsync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsLinesWithLineEnds();
    void missingFileIsReported();
};

void TstFileReaderAsync::readsLinesWithLineEnds()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("part.stl")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("solid part\r\n  facet normal 0 0 1\nendsolid");
    file.close();

    FileReaderAsync reader;
    QSignalSpy readed(&reader, &FileReaderAsync::fileReaded);
    reader.readFile(file.fileName());
    QCOMPARE(readed.count(), 1);
    QVERIFY(reader.isDone());
    QCOMPARE(reader.fileText(), QStringLiteral("solid part\n  facet normal 0 0 1\nendsolid\n"));
    QCOMPARE(reader.fileName(), QStringLiteral("part.stl"));
}

void TstFileReaderAsync::missingFileIsReported()
{
    MessageBoxCatcher boxes;
    FileReaderAsync reader;
    QTemporaryDir dir;
    reader.readFile(dir.filePath(QStringLiteral("gone.dxf")));
    QCOMPARE(boxes.texts(), QStringList{QStringLiteral("File Error/No such file or directory")});
    QVERIFY(reader.fileText().isEmpty());
    QCOMPARE(reader.fileName(), QStringLiteral("gone.dxf"));
}

QTEST_MAIN(TstFileReaderAsync)
#include "tst_filereaderasync.moc"
