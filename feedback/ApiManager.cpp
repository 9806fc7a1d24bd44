#include "feedback/ApiManager.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "platform/MainQueue.h"
#include "telemetry/HttpClient.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"

#include <QLocale>

ApiManager& ApiManager::shared()
{
    static ApiManager instance;
    return instance;
}

QString ApiManager::commentsDate(const QDateTime& now)
{
    // The calendar year ("yyyy"): the week-based year would date the last days
    // of December into the next year. Digits stay ASCII whatever the locale,
    // since the service reads them.
    const QDateTime local = now.toLocalTime();
    const int hundredths = local.time().msec() / 10;
    return QLocale::c().toString(local, QStringLiteral("yyyy-MM-dd HH:mm:ss "))
        % QStringLiteral("%1").arg(hundredths, 2, 10, QLatin1Char('0'));
}

QJsonObject ApiManager::feedbackDocument(const QString& feedback, const QString& contact, const QDateTime& now)
{
    QJsonObject document;
    // Values the system may lack are left out rather than sent blank.
    const auto insertKnown = [&document](const QString& key, const QString& value) {
        if (!value.isEmpty())
            document.insert(key, value);
    };
    insertKnown(QStringLiteral("product_name"), Bundle::displayName());
    insertKnown(QStringLiteral("package_name"), Bundle::identifier());
    insertKnown(QStringLiteral("product_version"), Bundle::shortVersion());
    insertKnown(QStringLiteral("device_type"), UABuilder::getRealDeviceName());
    document.insert(QStringLiteral("cpmments_date"), commentsDate(now));
    document.insert(QStringLiteral("comments"), feedback);
    document.insert(QStringLiteral("feedback_email"), contact);
    // The running system, as the telemetry reports it ("Debian GNU/Linux").
    insertKnown(QStringLiteral("product_type"), SystemFacts::running().osName());
    return document;
}

void ApiManager::sendFeedBack(const QString& feedback, const QString& contact, Completion complete)
{
    const QUrl url = Bundle::endpointUrl(Bundle::Endpoint::Feedback, kFeedbackPath);
    if (url.isEmpty()) {
        qCInfo(lcUi, "feedback endpoint not configured; nothing sent");
        // Still after the caller returns, as a real answer would come.
        MainQueue::async([complete = std::move(complete)] {
            if (complete)
                complete(false, QStringLiteral("feedback endpoint not configured"), {});
        });
        return;
    }
    HttpClient::post(url, feedbackDocument(feedback, contact, QDateTime::currentDateTime()),
        [complete = std::move(complete)](bool delivered, const QJsonDocument& response, const QString& error) {
            if (!delivered)
                qCWarning(lcUi, "feedback not delivered: %s", qUtf8Printable(error));
            if (complete)
                complete(delivered, delivered ? QString() : error, delivered ? response : QJsonDocument());
        });
}
