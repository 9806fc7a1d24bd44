#include "telemetry/KKGADictionaryBuilder.h"

#include "platform/NotificationCenter.h"
#include "telemetry/KKGAFields.h"
#include "telemetry/KKGASystemInfo.h"

void KKGADictionaryBuilder::set(const QVariant& value, const QString& key)
{
    m_dictionary.insert(key, value);
}

QVariant KKGADictionaryBuilder::get(const QString& key) const
{
    return m_dictionary.value(key);
}

void KKGADictionaryBuilder::setAll(const QVariantMap& dictionary)
{
    m_dictionary = dictionary;
}

QVariantMap KKGADictionaryBuilder::build() const
{
    return m_dictionary;
}

void KKGADictionaryBuilder::setupDictionary(const QVariantMap& dictionary)
{
    m_dictionary = dictionary;
    NotificationCenter::defaultCenter().post(kAnalyticsEventNotification, {}, m_dictionary);
}

KKGADictionaryBuilder KKGADictionaryBuilder::made(const QVariantMap& dictionary)
{
    KKGADictionaryBuilder builder;
    builder.setupDictionary(dictionary);
    return builder;
}

KKGADictionaryBuilder KKGADictionaryBuilder::createScreenView(const QString& name)
{
    return made({ { KKGA::kHitType, QString(KKGA::kAppView) }, { KKGA::kAppName, KKGASystemInfo::appName() },
        { KKGA::kAppVersion, KKGASystemInfo::appVersion() }, { KKGA::kScreenName, name } });
}

KKGADictionaryBuilder KKGADictionaryBuilder::createPageViewWithName(
    const QString& name, const QString& hostname, const QString& page)
{
    return made({ { KKGA::kHitType, QString(KKGA::kPageView) }, { KKGA::kHostname, hostname }, { KKGA::kPage, page },
        { KKGA::kTitle, name } });
}

KKGADictionaryBuilder KKGADictionaryBuilder::createEventWithCategory(const QString& category, const QString& action,
    const std::optional<QString>& label, const std::optional<qint64>& value)
{
    QVariantMap map { { KKGA::kHitType, QString(KKGA::kEvent) }, { KKGA::kEventCategory, category },
        { KKGA::kEventAction, action } };
    if (label)
        map.insert(KKGA::kEventLabel, *label);
    if (value)
        map.insert(KKGA::kEventValue, *value);
    return made(map);
}

KKGADictionaryBuilder KKGADictionaryBuilder::createTransaction(const QString& transactionId, const QString& affiliation,
    double revenue, double shipping, double tax, const std::optional<QString>& currencyCode)
{
    QVariantMap map { { KKGA::kHitType, QString(KKGA::kTransaction) }, { KKGA::kTransactionId, transactionId },
        { KKGA::kTransactionAffiliation, affiliation }, { KKGA::kTransactionRevenue, revenue },
        { KKGA::kTransactionShipping, shipping }, { KKGA::kTransactionTax, tax } };
    if (currencyCode)
        map.insert(KKGA::kCurrencyCode, *currencyCode);
    return made(map);
}

KKGADictionaryBuilder KKGADictionaryBuilder::createItem(const QString& transactionId, const QString& name,
    const QString& sku, const QString& category, double price, qint64 quantity,
    const std::optional<QString>& currencyCode)
{
    QVariantMap map { { KKGA::kHitType, QString(KKGA::kItem) }, { KKGA::kTransactionId, transactionId },
        { KKGA::kItemName, name }, { KKGA::kItemSku, sku }, { KKGA::kItemCategory, category },
        { KKGA::kItemPrice, price }, { KKGA::kItemQuantity, quantity } };
    if (currencyCode)
        map.insert(KKGA::kCurrencyCode, *currencyCode);
    return made(map);
}

KKGADictionaryBuilder KKGADictionaryBuilder::createSocialWithNetwork(
    const QString& network, const QString& action, const QString& target)
{
    return made({ { KKGA::kHitType, QString(KKGA::kSocial) }, { KKGA::kSocialNetwork, network },
        { KKGA::kSocialAction, action }, { KKGA::kSocialTarget, target } });
}

KKGADictionaryBuilder KKGADictionaryBuilder::createTimingWithCategory(
    const QString& category, qint64 interval, const QString& name, const QString& label)
{
    return made({ { KKGA::kHitType, QString(KKGA::kTiming) }, { KKGA::kTimingCategory, category },
        { KKGA::kTimingValue, interval }, { KKGA::kTimingVar, name }, { KKGA::kTimingLabel, label } });
}

KKGADictionaryBuilder KKGADictionaryBuilder::createExceptionWithDescription(const QString& description, bool fatal)
{
    return made({ { KKGA::kHitType, QString(KKGA::kException) }, { KKGA::kExDescription, description },
        { KKGA::kExFatal, fatal } });
}
