#pragma once

// Writes the bodies of large files on a thread of its own, so the thread that
// receives them only hands the bytes over. A process that dirties pages
// faster than the disk takes them is made to wait inside write(); on the
// thread that runs the window that wait is a frozen window.
//
// Each file being written is a Stream. Its owner puts bytes in; the writer
// thread writes them in order, in blocks. A stream holds at most Backlog bytes
// unwritten: past that, accepting() says no and calls `ready` once there is
// room again, so the network pauses instead of the window. Continuations run
// on the thread that owns the BodyWriter, from its event loop.

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QFile;

class BodyWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 Backlog = 4 * 1024 * 1024;

    explicit BodyWriter(QObject* parent = nullptr);
    // Stops after the write under way; streams still open fail from then on.
    ~BodyWriter() override;

    class Stream;
    // Takes one block on the writer's thread; false, with the reason in
    // `error`, ends the stream.
    using Consumer = std::function<bool(const QByteArray& block, QString& error)>;
    // A stream into `file`, which it writes until drained or abandoned; the
    // owner does not touch the file meanwhile.
    std::shared_ptr<Stream> open(QFile& file);
    // A stream whose blocks go to `consume` (a decoder, say), in order.
    std::shared_ptr<Stream> open(Consumer consume);

private:
    struct Shared;
    void run();

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

class BodyWriter::Stream : public std::enable_shared_from_this<Stream>
{
public:
    Stream(std::shared_ptr<Shared> shared, Consumer consume);

    // Takes a copy of the bytes; false once a write failed (see error()).
    bool put(const char* data, qint64 size);
    // True while the stream has room; otherwise `ready` is called once it has.
    bool accepting(std::function<void()> ready);
    // Calls `done` (true when every byte put reached the file) once nothing is
    // left to write: at once when that is already so.
    void whenWritten(std::function<void(bool)> done);
    // Blocks until every byte put is written; false when one could not be.
    bool drain();
    // Drops what is not written yet and waits for the write under way: the
    // file is its owner's again, as long as what reached it.
    void abandon();
    bool failed() const;
    QString error() const;

    // For a sink that writes behind only sometimes: without a stream, every
    // byte is taken and written at once, and the sink's own error stands.
    static bool accepting(const std::shared_ptr<Stream>& stream, std::function<void()> ready);
    static void whenWritten(const std::shared_ptr<Stream>& stream, std::function<void(bool)> done);
    static QString errorOr(const std::shared_ptr<Stream>& stream, const QString& own);

private:
    friend class BodyWriter;

    std::shared_ptr<Shared> m_shared;
    Consumer m_consume;
    // Guarded by the shared mutex.
    std::deque<QByteArray> m_blocks;
    qint64 m_pending = 0;
    bool m_writing = false;
    bool m_queued = false;
    bool m_failed = false;
    QString m_error;
    std::function<void()> m_ready;
    std::function<void(bool)> m_done;
};
