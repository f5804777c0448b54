#pragma once

// SHA-256 through libcrypto's EVP interface: the hash of game files the
// updater reads whole (a file a patch applies to, a file --verify checks).

#include <QByteArray>

#include <functional>
#include <optional>

class QIODevice;

namespace delta {

class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, qint64 size);
    // The 32 raw bytes; the object is spent afterwards.
    QByteArray result();

private:
    struct Context;
    Context* m_ctx;
};

// Reads `device` from its current position to its end; nothing when a read
// fails. `progress` hears the bytes read so far.
std::optional<QByteArray> sha256Of(QIODevice& device,
                                   const std::function<void(qint64)>& progress = {});

} // namespace delta
