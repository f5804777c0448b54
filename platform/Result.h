#pragma once

// Ok, or what failed and why: one result for the platform, install, verify and
// publisher code alike. The reason names the file and what went wrong; when
// the system refused, its error number is kept too (errno, or GetLastError on
// Windows) so a caller can tell "no space" from "no permission".

#include <QString>

#include <utility>

class Result
{
public:
    bool ok = false;
    QString reason;  // empty when ok
    int osError = 0; // 0 when the system did not refuse

    explicit operator bool() const { return ok; }

    static Result success() { return {true, {}, 0}; }
    static Result failure(QString why, int osError = 0) { return {false, std::move(why), osError}; }

    // This result, or when it failed, its reason behind `context` ("installing: ...").
    Result within(const QString& context) const
    {
        return ok ? *this : Result{false, context + QStringLiteral(": ") + reason, osError};
    }
};
