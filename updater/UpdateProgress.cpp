#include "UpdateProgress.h"

#include <algorithm>
#include <cmath>
#include <utility>

using namespace Qt::StringLiterals;
using std::chrono::milliseconds;

namespace {

double secondsOf(milliseconds span)
{
    return double(span.count()) / 1000.0;
}

} // namespace

UpdateProgress::UpdateProgress(Clock clock) : m_clock(std::move(clock)) {}

void UpdateProgress::filesPlanned(int files, std::optional<qint64> totalBytes)
{
    m_files = std::max(files, 0);
    m_total = totalBytes;
    m_shown = 0;
}

void UpdateProgress::fileStarted(int index, qint64 offset)
{
    if (m_phase != Phase::Idle && m_phase != Phase::Fetching)
        return;
    if (!m_begun) {
        m_begun = true;
        m_phase = Phase::Fetching;
        m_start = m_lastSample = m_clock();
    }
    // A retry takes back what its earlier attempt counted beyond `offset`.
    m_shown = std::max(m_shown, fullness());
    qint64& position = m_positions[index];
    m_received += std::max<qint64>(offset, 0) - position;
    position = std::max<qint64>(offset, 0);
}

void UpdateProgress::fileProgressed(int index, qint64 position)
{
    if (m_phase != Phase::Fetching)
        return;
    m_shown = std::max(m_shown, fullness());
    qint64& at = m_positions[index];
    const qint64 delta = position - at;
    m_received += delta;
    if (delta > 0)
        m_sinceSample += delta;
    at = position;
}

void UpdateProgress::fileReplanned(int index, qint64 was, qint64 now)
{
    // The earlier attempt's bytes were received and stay so; the next
    // attempt counts from 0 on top of them.
    m_shown = std::max(m_shown, fullness());
    const auto at = m_positions.find(index);
    const qint64 spent = at == m_positions.end() ? 0 : std::exchange(at->second, 0);
    if (m_total)
        *m_total += spent + now - was;
}

void UpdateProgress::fileDone(int index, bool)
{
    m_positions.erase(index);
    ++m_filesDone;
}

void UpdateProgress::installStarted()
{
    if (m_phase != Phase::Fetching)
        return;
    m_phase = Phase::Installing;
    resetEstimates();
}

void UpdateProgress::updateFinished(bool complete)
{
    m_phase = complete ? Phase::Done : Phase::Failed;
    m_positions.clear();
    resetEstimates();
}

void UpdateProgress::resetEstimates()
{
    m_speed.reset();
    m_left.reset();
}

void UpdateProgress::sample()
{
    if (m_phase != Phase::Fetching)
        return;
    const milliseconds now = m_clock();
    const milliseconds span = now - m_lastSample;
    if (span < SampleSpacing)
        return;
    const double dt = secondsOf(span);
    const double instant = double(m_sinceSample) / dt;
    m_sinceSample = 0;
    m_lastSample = now;
    const double weight = 1.0 - std::exp(-dt / secondsOf(Smoothing));
    m_speed = m_speed ? *m_speed + weight * (instant - *m_speed) : instant;

    const bool estimable =
        m_total && now - m_start >= WarmUp && *m_speed >= SpeedFloor && m_received < *m_total;
    if (!estimable) {
        m_left.reset();
        return;
    }
    const double raw = double(*m_total - m_received) / *m_speed;
    if (!m_left) {
        m_left = raw;
        return;
    }
    // Bounded against its own count-down, so a burst or a stall bends the
    // figure instead of throwing it about.
    const double expected = std::max(*m_left - dt, 0.0);
    const double drift = std::pow(MaxDriftPerSecond, dt);
    m_left = std::clamp(raw, std::max(expected / drift - dt, 0.0), expected * drift + dt);
}

int UpdateProgress::permille() const
{
    if (m_phase == Phase::Done)
        return 1000;
    return std::max(m_shown, fullness());
}

int UpdateProgress::fullness() const
{
    if (m_total && *m_total > 0)
        return int(std::clamp<qint64>(m_received * 1000 / *m_total, 0, 1000));
    if (m_files > 0)
        return std::clamp(m_filesDone * 1000 / m_files, 0, 1000);
    return 0;
}

std::optional<std::chrono::seconds> UpdateProgress::timeLeft() const
{
    if (!m_left)
        return std::nullopt;
    return std::chrono::seconds(std::max<qint64>(qint64(std::ceil(*m_left)), 1));
}

QString ProgressLine::joined() const
{
    if (amount.isEmpty() || pace.isEmpty())
        return amount + pace;
    return amount + u", "_s + pace;
}

QString formatTimeLeft(std::chrono::seconds left, const QLocale& locale)
{
    const qint64 s = std::max<qint64>(left.count(), 1);
    if (s < 60)
        return u"%1 s left"_s.arg(locale.toString(s));
    if (s < 10 * 60) {
        // Tens of seconds: a count-down by the second reads as noise here.
        const qint64 tens = (s + 5) / 10 * 10;
        if (tens % 60 == 0)
            return u"%1 min left"_s.arg(locale.toString(tens / 60));
        return u"%1 min %2 s left"_s.arg(locale.toString(tens / 60), locale.toString(tens % 60));
    }
    const qint64 minutes = (s + 30) / 60;
    if (minutes < 60)
        return u"%1 min left"_s.arg(locale.toString(minutes));
    return u"%1 h %2 min left"_s.arg(locale.toString(minutes / 60), locale.toString(minutes % 60));
}

ProgressLine describeProgress(const UpdateProgress& progress, const QLocale& locale)
{
    ProgressLine line;
    if (!progress.visible())
        return line;
    const auto size = [&](qint64 bytes) {
        return locale.formattedDataSize(bytes, 1, QLocale::DataSizeIecFormat);
    };
    line.amount = progress.totalBytes()
                      ? u"%1 of %2"_s.arg(size(progress.received()), size(*progress.totalBytes()))
                      : size(progress.received());
    switch (progress.phase()) {
    case UpdateProgress::Phase::Fetching:
        if (const auto speed = progress.bytesPerSecond()) {
            line.pace = size(qint64(*speed)) + u"/s"_s;
            if (const auto left = progress.timeLeft())
                line.pace += u", "_s + formatTimeLeft(*left, locale);
        }
        break;
    case UpdateProgress::Phase::Installing:
        line.pace = u"Installing..."_s;
        break;
    default:
        break;
    }
    return line;
}
