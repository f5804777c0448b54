// Writing behind: bytes put in pieces reach the file whole and in order, on
// the writer's thread only; a full stream holds the network back and says
// when it has room; a failed write fails the stream.

#include "BodyWriter.h"

#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

class WatchedFile : public QFile
{
public:
    using QFile::QFile;
    std::atomic<bool> offCaller{true};
    std::atomic<bool> held{false}; // the writer waits while set
    QThread* caller = QThread::currentThread();

protected:
    qint64 writeData(const char* data, qint64 size) override
    {
        if (QThread::currentThread() == caller)
            offCaller = false;
        for (int n = 0; held && n < 1000; ++n) // bounded: 10 s at most
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return QFile::writeData(data, size);
    }
};

class BodyWriterTest : public QObject
{
    Q_OBJECT

private slots:
    void bytesArriveInOrderOffTheCallersThread();
    void aFullStreamSaysWhenItHasRoom();
    void aFailedWriteFailsTheStream();
};

void BodyWriterTest::bytesArriveInOrderOffTheCallersThread()
{
    QTemporaryDir dir;
    WatchedFile file(dir.filePath(u"body"_qs));
    QVERIFY(file.open(QIODevice::WriteOnly));
    BodyWriter writer;
    const auto stream = writer.open(file);
    QByteArray sent;
    for (int n = 0; n < 300; ++n) {
        const QByteArray piece(1000 + n, char('a' + n % 26));
        QVERIFY(stream->put(piece.constData(), piece.size()));
        sent += piece;
    }
    QVERIFY(stream->drain());
    file.close();
    QVERIFY(file.offCaller);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), sent);
}

void BodyWriterTest::aFullStreamSaysWhenItHasRoom()
{
    QTemporaryDir dir;
    WatchedFile file(dir.filePath(u"body"_qs));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.held = true;
    BodyWriter writer;
    const auto stream = writer.open(file);
    const QByteArray block(1024 * 1024, 'x');
    for (qint64 put = 0; put < BodyWriter::Backlog; put += block.size())
        QVERIFY(stream->put(block.constData(), block.size()));
    bool ready = false;
    QVERIFY(!stream->accepting([&] { ready = true; }));
    std::optional<bool> written;
    stream->whenWritten([&](bool ok) { written = ok; });
    QVERIFY(!written);
    file.held = false;
    QTRY_VERIFY_WITH_TIMEOUT(ready, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(written.has_value(), 10000);
    QVERIFY(*written);
    QCOMPARE(file.size(), BodyWriter::Backlog);
}

void BodyWriterTest::aFailedWriteFailsTheStream()
{
    QTemporaryDir dir;
    QFile file(dir.filePath(u"body"_qs));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.open(QIODevice::ReadOnly)); // every write fails
    BodyWriter writer;
    const auto stream = writer.open(file);
    QVERIFY(stream->put("abc", 3));
    QVERIFY(!stream->drain());
    QVERIFY(stream->failed());
    QVERIFY(!stream->error().isEmpty());
    QVERIFY(!stream->put("def", 3));
    std::optional<bool> written;
    stream->whenWritten([&](bool ok) { written = ok; });
    QCOMPARE(written, std::optional<bool>(false));
}

QTEST_GUILESS_MAIN(BodyWriterTest)
#include "tst_bodywriter.moc"
