#pragma once

#include <QString>

#include <utility>

// What an operation that can fail gives back: success, or the reason a person
// can read ("404 for .gz, .bz2 and plain", "SHA256 differs", "connection
// refused"). The reason names what failed, so a caller can show it as it is.
struct TOutcome {
    bool Ok = true;
    QString Reason;

    static TOutcome Success() { return {}; }
    static TOutcome Failure(QString why) { return {false, std::move(why)}; }
    explicit operator bool() const { return Ok; }
};

// Writes one line "orvia: TEXT" to stderr: every failure the window shows is
// also said there, so a run nobody watches leaves a trace.
void ReportToStderr(const QString& text);
