#pragma once

// One HTTP GET whose body goes to a sink, judged by the body checks while it
// streams. Asynchronous: it reports progress and its end through signals and
// never blocks. The network manager belongs to the caller.

#include "BodyChecks.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

namespace transfer {

// Where an accepted body goes. Opened only once the head passed its checks,
// so error pages and unreachable sites never create files.
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

struct Limits
{
    // Nothing at all arriving for this long fails the transfer; so does less
    // than `floorBytes` of body arriving in any such span once the body began.
    std::chrono::milliseconds inactivity{60'000};
    qint64 floorBytes = 1024;
};

class Transfer : public QObject
{
    Q_OBJECT

public:
    Transfer(QNetworkAccessManager& manager, BodySink& sink, Validators validators,
             const Limits& limits, QObject* parent = nullptr);
    ~Transfer() override;

    // `rangeFrom` >= 0: the request asks for the rest of a file from there.
    void start(const QNetworkRequest& request, qint64 rangeFrom = -1);
    // Aborts; the outcome becomes Cancelled unless it had already ended.
    void cancel();

    Outcome outcome() const { return m_outcome; }
    bool isFinished() const { return m_outcome != Outcome::Running; }
    int status() const { return m_head.status; }
    const Head& head() const { return m_head; }
    qint64 received() const { return m_received; }
    qint64 declaredLength() const { return m_head.declaredLength; }
    // What went wrong, for the log; empty after a complete transfer.
    QString failure() const { return m_failure; }
    // Worth trying again: a connection failure, a time-out or a 5xx status.
    bool isTransient() const;

signals:
    // Counted over the whole file: a resumed body adds to what was there.
    void progressed(qint64 received, qint64 declaredLength);
    void headAccepted();
    void finished();

private:
    void onReadyRead();
    void onFinished();
    bool acceptHead();
    void drain();
    void fail(Outcome outcome, const QString& reason);
    void end(Outcome outcome);
    void dropReply();

    QNetworkAccessManager& m_manager;
    BodySink& m_sink;
    Validators m_validators;
    Limits m_limits;
    QNetworkReply* m_reply = nullptr; // owned; deleted in dropReply()
    QTimer m_idle;
    QTimer m_floor;
    qint64 m_floorMark = 0; // bytes received when the current span began
    Head m_head;
    bool m_headAccepted = false;
    bool m_redirected = false;
    qint64 m_rangeFrom = -1;
    qint64 m_received = 0;
    Outcome m_outcome = Outcome::Running;
    QString m_failure;
};

} // namespace transfer
