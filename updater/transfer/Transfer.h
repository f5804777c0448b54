#pragma once

// One HTTP GET whose body goes to a sink, judged by the body checks while it
// streams. Asynchronous: it reports progress and its end through signals and
// never blocks. It runs on the engine of the Inet that made it; once that
// engine is gone it no longer runs.

#include "BodyChecks.h"
#include "Request.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <curl/curl.h>

#include <functional>
#include <memory>

namespace transfer {

class Engine;

// Where an accepted body goes. Opened only once the head passed its checks,
// so error pages and unreachable sites never create files. Called on the
// Inet's thread, from inside libcurl's receive callback: it must not start,
// cancel or delete transfers.
class BodySink
{
public:
    virtual ~BodySink() = default;
    // With head.resumedAt >= 0 the sink continues what it holds; otherwise it
    // starts empty.
    virtual bool open(const Head& head) = 0;
    virtual bool write(const char* data, qint64 size) = 0;
    virtual QString errorString() const = 0;
    // A resumed body: hands the bytes the sink already holds to `feed`, in
    // order, so the checks see the whole file. False when they cannot be read.
    virtual bool replay(const std::function<bool(const char*, qint64)>& feed)
    {
        (void)feed;
        return false;
    }
    // A sink that writes behind: false while it holds as much as it will,
    // and then `ready` is called (from the event loop) once it takes more.
    virtual bool accepting(std::function<void()> ready)
    {
        (void)ready;
        return true;
    }
    // Calls `done` once every byte taken is written, with false when one
    // could not be (errorString() says why); at once when nothing waits.
    virtual void whenWritten(std::function<void(bool)> done) { done(true); }
};

enum class Outcome
{
    Running,
    Complete,  // a whole, accepted body reached the sink
    Refused,   // the response or its body failed a check
    HttpError, // a status other than 200 (see status())
    NetworkError,
    TimedOut,    // nothing, or too little, arrived for too long
    WriteFailed, // the sink could not take the bytes
    Cancelled,
};

class Transfer : public QObject
{
    Q_OBJECT

public:
    Transfer(Engine& engine, BodySink& sink, Validators validators, QObject* parent = nullptr);
    ~Transfer() override;

    // Starts the request on the engine. A request that cannot even be set up
    // ends at once (finished() is emitted from the event loop).
    void start(const Request& request);
    // Aborts; the outcome becomes Cancelled unless it had already ended.
    void cancel();

    Outcome outcome() const { return m_outcome; }
    bool isFinished() const { return m_outcome != Outcome::Running; }
    // The response came as a stream of a multiplexed connection (HTTP/2).
    bool multiplexed() const { return m_multiplexed; }
    int status() const { return m_head.status; }
    const Head& head() const { return m_head; }
    qint64 received() const { return m_received; }
    qint64 declaredLength() const { return m_head.declaredLength; }
    // What went wrong, for the log; empty after a complete transfer.
    QString failure() const { return m_failure; }
    // Worth trying again: a connection failure, a time-out or a 5xx status.
    bool isTransient() const;
    // The most bytes the checks let through, if any of them has a bound.
    std::optional<qint64> sizeCap() const;

signals:
    // Counted over the whole file: a resumed body adds to what was there.
    // Batched: at most once per round of network work.
    void progressed(qint64 received, qint64 declaredLength);
    void headAccepted();
    void finished();

private:
    friend class Engine;

    struct EasyFree
    {
        void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
    };

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    void takeHeaderLine(QByteArrayView line);
    bool takeBody(const char* data, qint64 size);
    // True when the sink is full: curl holds the bytes until it has room.
    bool pauseForSink();
    bool acceptHead();
    // Engine side: emits what the last round did, and the end.
    void report();
    void ended(CURLcode result);
    void settle(CURLcode result);
    Framing framing() const;
    // Inside curl's callbacks: remembers the verdict for the end.
    void refuse(Outcome outcome, const QString& reason);
    void fail(Outcome outcome, const QString& reason);
    void end(Outcome outcome);

    Engine* m_engine;
    BodySink& m_sink;
    Validators m_validators;
    std::unique_ptr<CURL, EasyFree> m_easy;
    HeaderList m_headers;
    char m_error[CURL_ERROR_SIZE] = {};
    ResponseHead m_response;
    Head m_head;
    bool m_headAccepted = false;
    bool m_headToReport = false;
    bool m_dirty = false;       // queued for the engine's next report
    bool m_multiplexed = false; // an HTTP/2 stream
    qint64 m_rangeFrom = -1;
    qint64 m_received = 0;
    qint64 m_reported = -1;
    Outcome m_verdict = Outcome::Running; // set inside a callback, applied at the end
    Outcome m_outcome = Outcome::Running;
    QString m_failure;
};

} // namespace transfer
