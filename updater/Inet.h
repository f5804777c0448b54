#pragma once

// The HTTP transfer component of the updater: a GET that starts at once and
// runs in the background, a still-executing state, response headers and the
// body read piece by piece. One instance serves a whole run so that
// connections to the site are reused.

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <memory>

class QNetworkReply;

class Inet : public QObject
{
    Q_OBJECT

public:
    // How the last request ended.
    enum class Outcome
    {
        None,      // nothing started yet
        Running,   // still executing
        Succeeded, // the whole response arrived
        Failed,    // connection, TLS, redirect or protocol failure
        TimedOut,  // nothing arrived for the inactivity time-out
        Cancelled, // Cancel() was called
    };

    static constexpr std::chrono::milliseconds DefaultInactivityTimeout{60'000};
    static constexpr int MaxRedirects = 10;
    // Bytes the transfer may hold before the reader takes them; keeps memory
    // bounded whatever the file's size.
    static constexpr qint64 ReadBufferSize = 1 << 20;

    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    // Starts a request and returns at once. Only "GET" is supported. A
    // request still running is cancelled first.
    void Execute(const QUrl& url, const QByteArray& operation = QByteArrayLiteral("GET"));

    // True until the response has fully arrived or the request has failed.
    bool StillExecuting() const;

    // A response header as text; empty when there is none.
    QString GetHeader(const QString& name) const;

    // The next body bytes, at most `maxBytes` (fewer, or none, when not yet
    // arrived).
    QByteArray GetChunk(qint64 maxBytes);
    // Reads into `buffer`; returns the number of bytes read.
    qint64 readChunk(char* buffer, qint64 maxBytes);
    qint64 bytesAvailable() const;

    // Blocks in a local event loop until body bytes arrive, the request ends,
    // the time-out strikes or Cancel() is called. Returns false when the
    // application asked every loop to end (treat as a quit).
    bool waitForActivity();

    // Aborts the running request; the outcome becomes Cancelled.
    void Cancel();

    Outcome outcome() const { return m_outcome; }
    // Final HTTP status code (after redirects); 0 when none arrived.
    int statusCode() const;
    // True once response headers with a status are in.
    bool hasResponse() const;
    QString errorString() const { return m_error; }

    // Test hook: the inactivity time-out for requests started afterwards.
    void setInactivityTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds inactivityTimeout() const { return m_timeout; }

    // Test hook: certificate authorities trusted in addition to the system's.
    // Certificate checks stay on.
    void setExtraCaCertificates(const QList<QSslCertificate>& certificates);

    static QByteArray userAgent();

private:
    void finishRequest();
    void touch();
    void wake();
    void dropReply();

    QNetworkAccessManager m_manager;
    QNetworkReply* m_reply = nullptr; // owned; deleted in dropReply()
    QTimer m_idleTimer;
    QEventLoop* m_wait = nullptr; // the loop waitForActivity() runs, if any
    Outcome m_outcome = Outcome::None;
    QString m_error;
    std::chrono::milliseconds m_timeout = DefaultInactivityTimeout;
    QList<QSslCertificate> m_extraCas;
};
