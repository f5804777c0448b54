#pragma once

// A game folder, a site on the test server and a recording window, wired to
// one update session.

#include "Inet.h"
#include "RecordingView.h"
#include "ScratchFolder.h"
#include "TestHttpServer.h"
#include "UpdateSession.h"

#include <QByteArray>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <memory>

namespace kit {

using testsupport::CannedResponse;
using testsupport::manifestText;

// Inactivity time-out used by the tests instead of a minute.
inline constexpr std::chrono::milliseconds ShortTimeout{1000};
// What a whole test may take with one site: data that never stops (an endless
// body read as if it had no length) keeps a transfer active for ever.
inline constexpr std::chrono::milliseconds SiteLimit{30000};

// Bytes that differ from position to position, so misplaced data shows.
inline QByteArray pattern(qsizetype size, char seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xFF);
    return bytes;
}

struct Site
{
    testsupport::TestHttpServer server;
    testsupport::ScratchFolder game;
    testsupport::RecordingView view;
    Inet inet;
    std::unique_ptr<UpdateSession> session;
    QTimer limit;

    // Retries are off unless a test turns them on: most cases count requests.
    Site()
    {
        server.listen();
        game.ignore(QStringLiteral("Quorvane.log"));
        inet.setInactivityTimeout(ShortTimeout);
        inet.setRetryDelays({});
        restart(game.path());
        session->setBaseUrl(siteUrl());
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, [this] {
            QTest::qFail("the update did not end within kit::SiteLimit; quit requested", __FILE__,
                         __LINE__);
            session->requestQuit();
        });
        limit.start(SiteLimit);
    }
    // A fresh session on `folder`, as a newly started program would have.
    void restart(const QString& folder)
    {
        session = std::make_unique<UpdateSession>(folder, inet, view);
    }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

    // The site's folder; every remote file lives below it.
    QString siteUrl() const { return server.baseUrl() + QStringLiteral("site/"); }
    static QString sitePath(const QString& name) { return QStringLiteral("/site/") + name; }

    void serve(const QString& name, const QByteArray& body)
    {
        server.setFile(sitePath(name), body);
    }
    void serve(const QString& name, const CannedResponse& response)
    {
        server.setResponse(sitePath(name), response);
    }
    int requests(const QString& name) const { return server.requestCount(sitePath(name)); }

    void configure(const QString& webSite)
    {
        game.write(QStringLiteral("Updater.ini"),
                   QByteArray("[UPDATER]\r\nWebSite=") + webSite.toUtf8() + "\r\n");
    }
    void configure() { configure(siteUrl()); }

    void run() { session->UpdateRun(); }
    bool download(const QString& remote, const QString& local, const QString& subFolder = {})
    {
        return session->DownloadFile(remote, local, subFolder);
    }
    void quit() { session->requestQuit(); }
    bool quitRequested() const { return session->quitRequested(); }
};

// Serves TLS with the self-signed certificate in the test data (data.qrc),
// which no client trusts unless told to.
inline bool startTls(testsupport::TestHttpServer& server)
{
    QFile certFile(QStringLiteral(":/data/untrusted.crt"));
    QFile keyFile(QStringLiteral(":/data/untrusted.key"));
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    return server.listenTls(QSslCertificate(certFile.readAll()),
                            QSslKey(keyFile.readAll(), QSsl::Rsa));
}

} // namespace kit
