#include "Engine.h"

#include "Transfer.h"

#include <QSocketNotifier>

#include <algorithm>

namespace transfer {

Engine::Engine(QObject* parent) : QObject(parent)
{
    curl_global_init(CURL_GLOBAL_DEFAULT); // counted; safe to repeat
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &Engine::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &Engine::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));
    curl_multi_setopt(m_multi, CURLMOPT_MAX_CONCURRENT_STREAMS, long(MaxStreams));
    setConnectionsPerHost(4);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

Engine::~Engine()
{
    // Transfers still alive lose their engine: they can no longer run.
    for (Transfer* transfer : m_live)
        curl_multi_remove_handle(m_multi, transfer->m_easy.get());
    m_live.clear();
    for (Transfer* transfer : m_attached)
        transfer->m_engine = nullptr;
    curl_multi_cleanup(m_multi);
    for (auto& [socket, watch] : m_sockets) {
        retire(watch.read);
        retire(watch.write);
    }
    curl_global_cleanup();
}

void Engine::setConnectionsPerHost(int connections)
{
    curl_multi_setopt(m_multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(connections));
}

void Engine::attach(Transfer& transfer)
{
    m_attached.insert(&transfer);
}

void Engine::detach(Transfer& transfer)
{
    remove(transfer);
    m_attached.erase(&transfer);
}

bool Engine::add(Transfer& transfer)
{
    if (curl_multi_add_handle(m_multi, transfer.m_easy.get()) != CURLM_OK)
        return false;
    m_live.insert(&transfer);
    return true;
}

void Engine::remove(Transfer& transfer)
{
    if (m_live.erase(&transfer) == 0)
        return;
    curl_multi_remove_handle(m_multi, transfer.m_easy.get());
    std::erase(m_dirty, &transfer);
    std::erase(m_held, &transfer);
}

void Engine::resume(Transfer& transfer)
{
    if (!m_live.count(&transfer))
        return;
    m_spent = 0;
    // May hand over the bytes curl held at once, through the write callback.
    curl_easy_pause(transfer.m_easy.get(), CURLPAUSE_CONT);
    dispatch();
}

bool Engine::spend(Transfer& transfer, qint64 bytes)
{
    if (m_spent < RoundBudget) {
        m_spent += bytes;
        return true;
    }
    if (m_held.empty())
        QTimer::singleShot(0, this, &Engine::resumeHeld);
    if (std::find(m_held.cbegin(), m_held.cend(), &transfer) == m_held.cend())
        m_held.push_back(&transfer);
    return false;
}

void Engine::resumeHeld()
{
    m_spent = 0;
    for (Transfer* transfer : std::exchange(m_held, {})) {
        if (m_live.count(transfer))
            curl_easy_pause(transfer->m_easy.get(), CURLPAUSE_CONT);
    }
    dispatch();
}

void Engine::markDirty(Transfer& transfer)
{
    if (!transfer.m_dirty) {
        transfer.m_dirty = true;
        m_dirty.push_back(&transfer);
    }
}

int Engine::onSocket(CURL*, curl_socket_t socket, int what, void* self, void*)
{
    static_cast<Engine*>(self)->watch(socket, what);
    return 0;
}

int Engine::onTimer(CURLM*, long timeoutMs, void* self)
{
    auto* engine = static_cast<Engine*>(self);
    engine->m_dueNow = timeoutMs == 0;
    if (timeoutMs < 0)
        engine->m_timer.stop();
    else
        engine->m_timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

// A notifier may be the one whose signal is running: delete it afterwards.
void Engine::retire(std::unique_ptr<QSocketNotifier>& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier.release()->deleteLater();
}

void Engine::watch(curl_socket_t socket, int what)
{
    Watch& watch = m_sockets[socket];
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    const auto update = [&](std::unique_ptr<QSocketNotifier>& notifier, bool wanted,
                            QSocketNotifier::Type type, int events) {
        if (!wanted) {
            retire(notifier);
            return;
        }
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
            connect(notifier.get(), &QSocketNotifier::activated, this,
                    [this, socket, events] { act(socket, events); });
        }
        notifier->setEnabled(true);
    };
    update(watch.read, wantRead, QSocketNotifier::Read, CURL_CSELECT_IN);
    update(watch.write, wantWrite, QSocketNotifier::Write, CURL_CSELECT_OUT);
    if (what == CURL_POLL_REMOVE)
        m_sockets.erase(socket);
}

void Engine::act(curl_socket_t socket, int events)
{
    m_spent = 0;
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    dispatch();
    // What the round's receivers started (the next file's request) goes out
    // now rather than one turn of the loop later; the loop still turns soon.
    for (int round = 0; m_dueNow && round < RoundsDueAtOnce; ++round) {
        m_dueNow = false;
        m_timer.stop();
        curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
        dispatch();
    }
}

// Reports what the last round did. Receivers may delete any transfer, so each
// is looked up among the live ones right before it is used.
void Engine::dispatch()
{
    std::vector<std::pair<CURL*, CURLcode>> ended;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg == CURLMSG_DONE)
            ended.emplace_back(message->easy_handle, message->data.result);
    }
    const std::vector<Transfer*> dirty = std::exchange(m_dirty, {});
    for (Transfer* transfer : dirty) {
        if (m_live.count(transfer)) {
            transfer->m_dirty = false;
            transfer->report();
        }
    }
    for (const auto& [easy, result] : ended) {
        char* owner = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &owner);
        auto* transfer = reinterpret_cast<Transfer*>(owner);
        if (!m_live.count(transfer) || transfer->m_easy.get() != easy)
            continue;
        remove(*transfer);
        transfer->ended(result);
    }
}

} // namespace transfer
