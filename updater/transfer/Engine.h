#pragma once

// Drives libcurl's multi interface from the event loop of the thread that
// owns it: a socket notifier per socket curl watches and one timer for curl's
// own deadlines (curl_multi_socket_action). Transfers on the one multi handle
// share its connections: HTTP/1.1 keeps at most a set number per host, HTTPS
// multiplexes over HTTP/2.
//
// Progress is batched: after each round of socket work, every transfer that
// received bytes emits one progress signal. Signals are never emitted from
// inside a curl callback, so their receivers may start, cancel or delete
// transfers freely.

#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QSocketNotifier;

namespace transfer {

class Transfer;

class Engine : public QObject
{
    Q_OBJECT

public:
    // Files in flight on one HTTP/2 connection.
    static constexpr int MaxStreams = 64;
    // Bytes one round of socket work hands to sinks; past them the transfers
    // pause until the next turn of the event loop. curl reads on while the
    // socket has data, which on a fast link would keep the thread from
    // painting for many milliseconds.
    static constexpr qint64 RoundBudget = 2 * 1024 * 1024;
    // Rounds of curl's own timed work (a request a finished file's successor
    // made) done at once after a round of socket work, before the loop turns.
    static constexpr int RoundsDueAtOnce = 8;

    explicit Engine(QObject* parent = nullptr);
    ~Engine() override;

    // HTTP/1.1 connections per host; further transfers wait in line.
    void setConnectionsPerHost(int connections);

    // Transfers made on this engine, from construction to destruction: an
    // engine that goes first leaves them inert.
    void attach(Transfer& transfer);
    void detach(Transfer& transfer);
    // The transfer's easy handle joins the multi handle; it runs from the
    // next turn of the event loop, or at once when added while a round of
    // socket work reports.
    bool add(Transfer& transfer);
    // Takes the transfer off the multi handle (a no-op when it is not on it).
    void remove(Transfer& transfer);
    // Lets a transfer paused for its sink go on (a no-op when it is not live).
    void resume(Transfer& transfer);
    // Counts `bytes` against this round's budget; false (and the transfer
    // goes on next turn) when it is spent.
    bool spend(Transfer& transfer, qint64 bytes);
    // A transfer received bytes or was accepted: report it after this round.
    void markDirty(Transfer& transfer);

private:
    struct Watch
    {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    static int onSocket(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    static int onTimer(CURLM* multi, long timeoutMs, void* self);
    void watch(curl_socket_t socket, int what);
    void act(curl_socket_t socket, int events);
    void dispatch();
    void resumeHeld();
    static void retire(std::unique_ptr<QSocketNotifier>& notifier);

    CURLM* m_multi = nullptr;
    QTimer m_timer;
    std::unordered_map<curl_socket_t, Watch> m_sockets;
    std::unordered_set<Transfer*> m_attached;
    std::unordered_set<Transfer*> m_live; // on the multi handle
    std::vector<Transfer*> m_dirty;
    std::vector<Transfer*> m_held; // paused until the next turn
    qint64 m_spent = 0;            // this round's bytes
    bool m_dueNow = false;         // curl asked for its timed work at once
};

} // namespace transfer
