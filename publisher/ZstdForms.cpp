#include "ZstdForms.h"

#include "WindowLog.h"

#include <zstd.h>

#include <memory>

namespace publisher {

namespace {

struct FreeContext
{
    void operator()(ZSTD_CCtx* ctx) const { ZSTD_freeCCtx(ctx); }
};
using Context = std::unique_ptr<ZSTD_CCtx, FreeContext>;

// Runs the configured `ctx` over `data` into at most `limit` - 1 bytes.
std::optional<QByteArray> run(ZSTD_CCtx* ctx, QByteArrayView data, qint64 limit)
{
    if (limit <= 1)
        return std::nullopt;
    const qint64 bound = qint64(ZSTD_compressBound(size_t(data.size())));
    QByteArray out(qsizetype(std::min(limit - 1, bound)), Qt::Uninitialized);
    const size_t n =
        ZSTD_compress2(ctx, out.data(), size_t(out.size()), data.data(), size_t(data.size()));
    if (ZSTD_isError(n)) // the output did not fit: not small enough
        return std::nullopt;
    out.truncate(qsizetype(n));
    return out;
}

} // namespace

std::optional<QByteArray> compressBelow(QByteArrayView data, qint64 limit)
{
    const Context ctx(ZSTD_createCCtx());
    if (!ctx || ZSTD_isError(ZSTD_CCtx_setParameter(ctx.get(), ZSTD_c_compressionLevel,
                                                    ZSTD_CLEVEL_DEFAULT)))
        return std::nullopt;
    return run(ctx.get(), data, limit);
}

std::optional<QByteArray> patchBelow(QByteArrayView reference, QByteArrayView data, qint64 limit)
{
    const Context ctx(ZSTD_createCCtx());
    if (!ctx || reference.isEmpty())
        return std::nullopt;
    ZSTD_CCtx* c = ctx.get();
    const int windowLog = delta::windowLogFor(reference.size(), data.size());
    if (ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, ZSTD_CLEVEL_DEFAULT)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog)) ||
        ZSTD_isError(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1)) ||
        ZSTD_isError(ZSTD_CCtx_refPrefix(c, reference.data(), size_t(reference.size()))))
        return std::nullopt;
    return run(c, data, limit);
}

} // namespace publisher
