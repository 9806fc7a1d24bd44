#include "platform/Bundle.h"

#include "platform/BuildInfo.h"

#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QTranslator>
#include <map>
#include <memory>

namespace {

const char* const kContext = "Zavrin";

struct Tables {
    QMutex mutex;
    QStringList overrideLanguages;
    std::map<QString, std::unique_ptr<QTranslator>> loaded;
};

Tables& tables()
{
    static Tables t;
    return t;
}

// Maps one BCP 47 language name to the table that serves it, or an empty text.
QString tableForLanguage(const QString& language)
{
    const QString lower = language.toLower().replace(u'_', u'-');
    if (lower == u"zh" || lower.startsWith(u"zh-")) {
        static const QStringList traditional
            = { QStringLiteral("zh-tw"), QStringLiteral("zh-hk"), QStringLiteral("zh-mo"), QStringLiteral("zh-hant") };
        for (const QString& t : traditional) {
            if (lower.startsWith(t))
                return QStringLiteral("zh_TW");
        }
        return QStringLiteral("zh_CN");
    }
    if (lower == u"en" || lower.startsWith(u"en-"))
        return QStringLiteral("en");
    return {};
}

QUrl baseFromText(const QString& text)
{
    QString trimmed = text.trimmed();
    while (trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed.isEmpty() ? QUrl() : QUrl(trimmed);
}

} // namespace

QString Bundle::identifier()
{
    return QStringLiteral(ZAVRIN_BUNDLE_ID);
}
QString Bundle::name()
{
    return QStringLiteral("Zavrin");
}
QString Bundle::displayName()
{
    return QStringLiteral("Zavrin");
}
QString Bundle::shortVersion()
{
    return QStringLiteral(ZAVRIN_VERSION);
}
QString Bundle::buildVersion()
{
    return QStringLiteral(ZAVRIN_BUILD_NUMBER);
}
QString Bundle::organizationName()
{
    return QStringLiteral("zavrin");
}
QString Bundle::applicationName()
{
    return QStringLiteral("Zavrin");
}

QUrl Bundle::endpointBase(Endpoint endpoint)
{
    const QString override = qEnvironmentVariable("ZAVRIN_ENDPOINT_BASE");
    if (!override.trimmed().isEmpty())
        return baseFromText(override);
    switch (endpoint) {
    case Endpoint::Log:
        return baseFromText(QStringLiteral(ZAVRIN_LOG_ENDPOINT));
    case Endpoint::Analytics:
        return baseFromText(QStringLiteral(ZAVRIN_ANALYTICS_ENDPOINT));
    case Endpoint::Feedback:
        return baseFromText(QStringLiteral(ZAVRIN_FEEDBACK_ENDPOINT));
    }
    return {};
}

QUrl Bundle::endpointUrl(Endpoint endpoint, const QString& path)
{
    const QUrl base = endpointBase(endpoint);
    if (base.isEmpty())
        return {};
    QUrl url = base;
    url.setPath(base.path() + path);
    return url;
}

QString Bundle::analyticsTrackingId()
{
    return QStringLiteral(ZAVRIN_ANALYTICS_TRACKING_ID);
}

QString Bundle::storeHost()
{
    return QStringLiteral(ZAVRIN_STORE_HOST);
}

QString Bundle::storeIdentifier()
{
    return QStringLiteral(ZAVRIN_STORE_ID);
}

QStringList Bundle::preferredLanguages()
{
    {
        QMutexLocker lock(&tables().mutex);
        if (!tables().overrideLanguages.isEmpty())
            return tables().overrideLanguages;
    }
    return QLocale::system().uiLanguages();
}

void Bundle::setPreferredLanguages(const QStringList& languages)
{
    QMutexLocker lock(&tables().mutex);
    tables().overrideLanguages = languages;
}

QString Bundle::preferredLocalization()
{
    for (const QString& language : preferredLanguages()) {
        const QString table = tableForLanguage(language);
        if (!table.isEmpty())
            return table;
    }
    return QStringLiteral("en");
}

QStringList Bundle::localizations()
{
    return { QStringLiteral("zh_CN"), QStringLiteral("zh_TW"), QStringLiteral("en") };
}

QString Bundle::localizedString(const QString& key)
{
    const QString table = preferredLocalization();
    Tables& t = tables();
    QMutexLocker lock(&t.mutex);
    auto it = t.loaded.find(table);
    if (it == t.loaded.end()) {
        auto translator = std::make_unique<QTranslator>();
        if (!translator->load(QStringLiteral(":/i18n/zavrin_") + table + QStringLiteral(".qm")))
            translator.reset();
        it = t.loaded.emplace(table, std::move(translator)).first;
    }
    if (!it->second)
        return key;
    const QString text = it->second->translate(kContext, key.toUtf8().constData());
    return text.isEmpty() ? key : text;
}
