#pragma once

#include "UpdateRules.h"

#include <QString>

#include <cstdint>
#include <functional>

// The percentage of one download in whole percent, as the body would be taken
// in 1024-byte steps, passed on only when the shown number changes.
class Progress
{
public:
    Progress(std::int64_t size, std::function<void(const QString&)> show)
        : m_size(size), m_show(std::move(show))
    {}

    void advanceTo(std::int64_t received)
    {
        if (m_size <= 0)
            return;
        constexpr std::int64_t Step = 1024;
        for (std::int64_t at = (m_received / Step + 1) * Step; at <= received && at < m_size;
             at += Step)
            show(updaterules::percentOf(at, m_size));
        if (received >= m_size)
            show(100);
        m_received = received;
    }

private:
    void show(int percent)
    {
        if (percent == m_shown)
            return;
        m_shown = percent;
        m_show(QString::number(percent) + u'%');
    }

    std::int64_t m_size;
    std::function<void(const QString&)> m_show;
    std::int64_t m_received = 0;
    int m_shown = -1;
};
