#pragma once

#include <QString>

// The operator's request to put the messages the server refused back in the
// queue, carried from `vlsmsd --requeue-failed` to the instance that runs on
// the data directory: a request file that the instance picks up on its tick,
// and an answer file that it writes back. Both hold one token, so that an
// old answer is never taken for the new one.
class RequeueRequest
{
public:
    RequeueRequest() = delete;

    static QString requestPath();
    static QString answerPath();

    // --- the asking side ---------------------------------------------------
    // Writes a request with a fresh token; false (and err) when it cannot.
    static bool post(QString& token, QString& err);
    // Waits up to timeoutMs for the answer to token; true with its text.
    static bool waitAnswer(const QString& token, int timeoutMs, QString& answer);

    // --- the running instance ----------------------------------------------
    // True when a request waits; it is taken (the file removed) and its
    // token returned.
    static bool take(QString& token);
    static bool answer(const QString& token, const QString& text);
};
