#pragma once

// Results of the checks: a value or a reason a log can name.

#include "Result.h"

#include <QString>

#include <optional>
#include <utility>

namespace verify {

// Ok, or why not.
using Check = ::Result;

// A parsed value, or why the text was refused.
template <typename T> class Outcome
{
public:
    static Outcome success(T value) { return Outcome(std::move(value), {}); }
    static Outcome failure(QString why) { return Outcome(std::nullopt, std::move(why)); }

    explicit operator bool() const { return m_value.has_value(); }
    const T& value() const { return *m_value; }
    T& value() { return *m_value; }
    const QString& reason() const { return m_reason; }

private:
    Outcome(std::optional<T> value, QString why)
        : m_value(std::move(value)), m_reason(std::move(why))
    {}
    std::optional<T> m_value;
    QString m_reason;
};

} // namespace verify
