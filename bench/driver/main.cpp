// qv_bench_driver download <url> <output-file>
//     One transfer through DownloadFile (the run's own download path, a
//     queue of one), saved atomically. Prints
//     "bytes=N seconds=S"; exit 0 on success.
// qv_bench_driver update <game-folder>
//     A full UpdateRun against the folder's Updater.ini. Prints "seconds=S";
//     exit 0 when the run ended updated or up to date.
// qv_bench_driver manifests <game-folder>
//     Times the up-to-date check and LoadManifests on the info.ini and
//     temp.ini present there. Prints "check milliseconds=A",
//     "load milliseconds=B", then "total milliseconds=A+B entries=N pending=P".
// qv_bench_driver hash <file>
//     SHA-256 of the file, read into memory first, timed alone (the streaming
//     check's hash). Prints "bytes=N seconds=S sha256=HEX".

#include "Inet.h"
#include "Manifest.h"
#include "ProfileFile.h"
#include "Sha256.h"
#include "UpdateRules.h"
#include "UpdateSession.h"
#include "UpdateView.h"
#include "modINI.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Keeps only what tells how the run ended.
class NullView : public UpdateView
{
public:
    void showWindow(const QString&) override {}
    void setStatus(const QString& text) override { status = text; }
    void setDetail(const QString&) override {}
    void setVersion(const QString&) override {}
    void setProgress(const QString&) override {}
    void setContinueEnabled(bool) override {}

    QString status;
};

void print(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int usage()
{
    std::fputs("usage: qv_bench_driver download <url> <output-file>\n"
               "       qv_bench_driver update <game-folder>\n"
               "       qv_bench_driver manifests <game-folder>\n"
               "       qv_bench_driver hash <file>\n",
               stderr);
    return 2;
}

int download(const QString& address, const QString& output)
{
    const QUrl url(address);
    const QString path = url.path(QUrl::FullyEncoded);
    const qsizetype slash = path.lastIndexOf(u'/');
    if (!url.isValid() || slash < 0 || slash == path.size() - 1)
        return usage();
    const QFileInfo target(output);

    QUrl base = url;
    base.setPath(path.left(slash + 1), QUrl::StrictMode);
    const QString remoteName = QUrl::fromPercentEncoding(path.mid(slash + 1).toLatin1());

    NullView view;
    Inet inet;
    UpdateSession session(target.absolutePath(), inet, view);
    session.setBaseUrl(base.toString(QUrl::FullyEncoded));
    QObject::connect(&session, &UpdateSession::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    session.DownloadFile(remoteName, target.fileName());
    QCoreApplication::exec();
    const bool ok = session.downloaded();
    const double seconds = timer.nsecsElapsed() / 1e9;
    print("bytes="_L1 + QString::number(ok ? QFileInfo(output).size() : 0) + " seconds="_L1 +
          QString::number(seconds, 'f', 3));
    return ok ? 0 : 1;
}

int update(const QString& folder)
{
    NullView view;
    Inet inet;
    UpdateSession session(QDir(folder).absolutePath(), inet, view);
    QObject::connect(&session, &UpdateSession::finished, QCoreApplication::instance(),
                     &QCoreApplication::quit, Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    session.UpdateRun();
    QCoreApplication::exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    print("seconds="_L1 + QString::number(seconds, 'f', 3) + " status="_L1 + view.status);
    const bool done = view.status.startsWith("Updated To Version "_L1) ||
                      view.status == "You Have The Latest Version!"_L1;
    return done ? 0 : 1;
}

int manifests(const QString& folder)
{
    const QString game = QDir(folder).absolutePath();
    NullView view;
    Inet inet;
    UpdateSession session(game, inet, view);
    const QString temp = game + "/temp.ini"_L1;
    const QString info = game + "/info.ini"_L1;

    // Cold reads, as in a fresh run (profile reads parse afresh).
    QElapsedTimer timer;
    timer.start();
    const QString localVersion = modINI::GetINI(info, u"VERSION"_s, u"Version"_s);
    const Manifest remote = Manifest::load(temp);
    const auto count = remote.entryCount();
    const bool upToDate = remote.version() == localVersion;
    const double checkMs = timer.nsecsElapsed() / 1e6;
    if (!count)
        return 1;
    session.setEntryCount(*count);

    timer.restart();
    session.LoadManifests();
    const double loadMs = timer.nsecsElapsed() / 1e6;

    print("check milliseconds="_L1 + QString::number(checkMs, 'f', 3) +
          (upToDate ? " up-to-date"_L1 : " differs"_L1));
    print("load milliseconds="_L1 + QString::number(loadMs, 'f', 3));
    print("total milliseconds="_L1 + QString::number(checkMs + loadMs, 'f', 3) + " entries="_L1 +
          QString::number(session.state().RemoteEntries.size()) + " pending="_L1 +
          QString::number(session.state().PendingTotal));
    return 0;
}

int hash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    // In pieces of the size the transfer engine hands over for big files.
    constexpr qsizetype Piece = 256 * 1024;
    QElapsedTimer timer;
    timer.start();
    verify::Sha256 sha;
    for (qsizetype at = 0; at < bytes.size(); at += Piece)
        sha.add(QByteArrayView(bytes).sliced(at, std::min(Piece, bytes.size() - at)));
    const QByteArray digest = sha.result();
    const double seconds = timer.nsecsElapsed() / 1e9;
    print("bytes="_L1 + QString::number(bytes.size()) + " seconds="_L1 +
          QString::number(seconds, 'f', 4) + " sha256="_L1 + QString::fromLatin1(digest.toHex()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == "download"_L1)
        return download(args.at(2), args.at(3));
    if (args.size() == 3 && args.at(1) == "update"_L1)
        return update(args.at(2));
    if (args.size() == 3 && args.at(1) == "manifests"_L1)
        return manifests(args.at(2));
    if (args.size() == 3 && args.at(1) == "hash"_L1)
        return hash(args.at(2));
    return usage();
}
