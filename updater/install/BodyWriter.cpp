#include "BodyWriter.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace {

// Bytes arrive in pieces of a few KiB; the disk gets them in blocks.
constexpr qsizetype BlockSize = 256 * 1024;

} // namespace

struct BodyWriter::Shared
{
    std::mutex mutex;
    std::condition_variable work; // the writer waits for streams with blocks
    std::condition_variable idle; // owners wait for a stream to settle
    std::deque<std::shared_ptr<Stream>> queue;
    bool stopped = false;
    QObject* context = nullptr; // where continuations run
};

BodyWriter::BodyWriter(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->context = this;
    m_thread = std::thread([this] { run(); });
}

BodyWriter::~BodyWriter()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->stopped = true;
        for (const auto& stream : m_shared->queue) {
            stream->m_failed = true;
            stream->m_error = u"the writer stopped"_s;
        }
    }
    m_shared->work.notify_all();
    m_thread.join();
    m_shared->idle.notify_all();
}

std::shared_ptr<BodyWriter::Stream> BodyWriter::open(QFile& file)
{
    return open([&file](const QByteArray& block, QString& error) {
        if (file.write(block) == block.size())
            return true;
        error = file.errorString();
        return false;
    });
}

std::shared_ptr<BodyWriter::Stream> BodyWriter::open(Consumer consume)
{
    return std::make_shared<Stream>(m_shared, std::move(consume));
}

void BodyWriter::run()
{
    Shared& shared = *m_shared;
    std::unique_lock lock(shared.mutex);
    for (;;) {
        shared.work.wait(lock, [&] { return shared.stopped || !shared.queue.empty(); });
        if (shared.stopped)
            return;
        const std::shared_ptr<Stream> stream = std::move(shared.queue.front());
        shared.queue.pop_front();
        if (stream->m_blocks.empty()) { // abandoned meanwhile
            stream->m_queued = false;
            continue;
        }
        const QByteArray block = std::move(stream->m_blocks.front());
        stream->m_blocks.pop_front();
        stream->m_writing = true;
        lock.unlock();
        QString error;
        const bool ok = stream->m_consume(block, error);
        lock.lock();
        stream->m_writing = false;
        stream->m_pending -= block.size();
        if (!ok && !stream->m_failed) {
            stream->m_failed = true;
            stream->m_error = error;
            stream->m_blocks.clear();
            stream->m_pending = 0;
        }
        if (stream->m_blocks.empty())
            stream->m_queued = false;
        else
            shared.queue.push_back(stream); // streams take turns
        if (stream->m_ready && (stream->m_failed || stream->m_pending <= Backlog / 2))
            QMetaObject::invokeMethod(shared.context, std::exchange(stream->m_ready, {}),
                                      Qt::QueuedConnection);
        if (stream->m_done && stream->m_pending == 0)
            QMetaObject::invokeMethod(
                shared.context,
                [done = std::exchange(stream->m_done, {}), ok = !stream->m_failed] { done(ok); },
                Qt::QueuedConnection);
        shared.idle.notify_all();
    }
}

BodyWriter::Stream::Stream(std::shared_ptr<Shared> shared, Consumer consume)
    : m_shared(std::move(shared)), m_consume(std::move(consume))
{}

bool BodyWriter::Stream::put(const char* data, qint64 size)
{
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_shared->stopped && !m_failed) {
            m_failed = true;
            m_error = u"the writer stopped"_s;
        }
        if (m_failed)
            return false;
        if (!m_blocks.empty() && m_blocks.back().size() + size <= BlockSize) {
            m_blocks.back().append(data, qsizetype(size));
        } else {
            m_blocks.emplace_back().reserve(std::max(BlockSize, qsizetype(size)));
            m_blocks.back().append(data, qsizetype(size));
        }
        m_pending += size;
        if (m_queued)
            return true;
        m_queued = true;
        m_shared->queue.push_back(shared_from_this());
    }
    m_shared->work.notify_one();
    return true;
}

bool BodyWriter::Stream::accepting(std::function<void()> ready)
{
    const std::lock_guard lock(m_shared->mutex);
    if (m_failed || m_pending < Backlog)
        return true; // a failure shows at the next put
    m_ready = std::move(ready);
    return false;
}

void BodyWriter::Stream::whenWritten(std::function<void(bool)> done)
{
    bool ok = false;
    {
        const std::lock_guard lock(m_shared->mutex);
        if (m_pending > 0 && !m_shared->stopped) {
            m_done = std::move(done);
            return;
        }
        ok = !m_failed && m_pending == 0;
    }
    done(ok);
}

bool BodyWriter::Stream::drain()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->idle.wait(lock, [&] { return m_shared->stopped || m_pending == 0; });
    return !m_failed && m_pending == 0;
}

void BodyWriter::Stream::abandon()
{
    std::unique_lock lock(m_shared->mutex);
    for (const QByteArray& block : m_blocks)
        m_pending -= block.size();
    m_blocks.clear();
    m_ready = {};
    m_done = {};
    m_shared->idle.wait(lock, [&] { return !m_writing; });
}

bool BodyWriter::Stream::failed() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_failed;
}

QString BodyWriter::Stream::error() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_error;
}

bool BodyWriter::Stream::accepting(const std::shared_ptr<Stream>& stream,
                                   std::function<void()> ready)
{
    return !stream || stream->accepting(std::move(ready));
}

void BodyWriter::Stream::whenWritten(const std::shared_ptr<Stream>& stream,
                                     std::function<void(bool)> done)
{
    if (stream)
        stream->whenWritten(std::move(done));
    else
        done(true);
}

QString BodyWriter::Stream::errorOr(const std::shared_ptr<Stream>& stream, const QString& own)
{
    return stream && stream->failed() ? stream->error() : own;
}
