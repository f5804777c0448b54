#include "Sha256.h"

#include <QIODevice>

#include <openssl/evp.h>

#include <stdexcept>

namespace delta {

struct Sha256::Context
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
};

Sha256::Sha256() : m_ctx(new Context)
{
    if (!m_ctx->md || EVP_DigestInit_ex(m_ctx->md, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(m_ctx->md);
        delete m_ctx;
        throw std::runtime_error("libcrypto cannot hash with SHA-256");
    }
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_ctx->md);
    delete m_ctx;
}

void Sha256::add(const char* data, qint64 size)
{
    EVP_DigestUpdate(m_ctx->md, data, size_t(size));
}

QByteArray Sha256::result()
{
    QByteArray out(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_ctx->md, reinterpret_cast<unsigned char*>(out.data()), &length);
    out.resize(length);
    return out;
}

std::optional<QByteArray> sha256Of(QIODevice& device, const std::function<void(qint64)>& progress)
{
    Sha256 hash;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        const qint64 n = device.read(buffer.data(), buffer.size());
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        hash.add(buffer.constData(), n);
        done += n;
        if (progress)
            progress(done);
    }
    return hash.result();
}

} // namespace delta
