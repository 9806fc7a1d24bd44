#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <optional>

// Builds the map of one analytics hit, keyed by protocol parameter name
// (KKGAFields.h). The class operations fill a new builder through
// `setupDictionary`, which announces the map as "AnalyticsEvent" (userInfo =
// the map) on the calling thread. Optional arguments left as std::nullopt are
// not put into the map.
class KKGADictionaryBuilder final {
public:
    void set(const QVariant& value, const QString& key);
    QVariant get(const QString& key) const;
    // Keyed access: reading gives an invalid QVariant for a missing key.
    QVariant& operator[](const QString& key) { return m_dictionary[key]; }
    QVariant operator[](const QString& key) const { return get(key); }
    // Replaces the whole map.
    void setAll(const QVariantMap& dictionary);
    // A copy of the map.
    QVariantMap build() const;
    // Replaces the map and posts "AnalyticsEvent" with a copy of it.
    void setupDictionary(const QVariantMap& dictionary);

    static KKGADictionaryBuilder createScreenView(const QString& name);
    static KKGADictionaryBuilder createPageViewWithName(
        const QString& name, const QString& hostname, const QString& page);
    static KKGADictionaryBuilder createEventWithCategory(const QString& category, const QString& action,
        const std::optional<QString>& label, const std::optional<qint64>& value);
    static KKGADictionaryBuilder createTransaction(const QString& transactionId, const QString& affiliation,
        double revenue, double shipping, double tax, const std::optional<QString>& currencyCode);
    static KKGADictionaryBuilder createItem(const QString& transactionId, const QString& name, const QString& sku,
        const QString& category, double price, qint64 quantity, const std::optional<QString>& currencyCode);
    static KKGADictionaryBuilder createSocialWithNetwork(
        const QString& network, const QString& action, const QString& target);
    // `interval` in milliseconds.
    static KKGADictionaryBuilder createTimingWithCategory(
        const QString& category, qint64 interval, const QString& name, const QString& label);
    static KKGADictionaryBuilder createExceptionWithDescription(const QString& description, bool fatal);

    static inline const QString kAnalyticsEventNotification = QStringLiteral("AnalyticsEvent");

private:
    static KKGADictionaryBuilder made(const QVariantMap& dictionary);
    QVariantMap m_dictionary;
};
