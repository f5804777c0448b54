#include "DiskWorker.h"

DiskWorker::DiskWorker(QObject* parent) : QObject(parent)
{
    // One thread: tasks touch the same files and must keep their order.
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(-1);
}

DiskWorker::~DiskWorker()
{
    m_pool.waitForDone();
}

void DiskWorker::post(std::function<void()> work, std::function<void()> then)
{
    ++m_pending;
    m_pool.start([this, work = std::move(work), then = std::move(then)] {
        work();
        QMetaObject::invokeMethod(
            this,
            [this, then] {
                --m_pending;
                then();
            },
            Qt::QueuedConnection);
    });
}
