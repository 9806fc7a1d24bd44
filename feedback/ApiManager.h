#pragma once

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <functional>

// Sends the user's feedback to the feedback collection service as one JSON
// POST. One process-wide instance without state; main thread only.
class ApiManager final {
public:
    // Called exactly once, on the main thread: (true, empty, the parsed answer)
    // when the service took the request, else (false, why, empty).
    using Completion = std::function<void(bool success, const QString& error, const QJsonDocument& response)>;

    static ApiManager& shared();

    // POSTs the feedback document to "/Statistics_branch/transit/addData" of
    // the feedback endpoint. Without a configured endpoint nothing is sent
    // and the completion reports a failure.
    void sendFeedBack(const QString& feedback, const QString& contact, Completion complete);

    // The request document for `feedback` and `contact` written at `now`.
    static QJsonObject feedbackDocument(const QString& feedback, const QString& contact, const QDateTime& now);
    // "yyyy-MM-dd HH:mm:ss SS" in local time, "SS" being hundredths of a second.
    static QString commentsDate(const QDateTime& now);

    static inline const QString kFeedbackPath = QStringLiteral("/Statistics_branch/transit/addData");

private:
    ApiManager() = default;
};
