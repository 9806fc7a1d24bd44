#pragma once

#include <QMap>
#include <QString>

// Which tracking ids the Measurement Protocol tracker sends to: the main id,
// plus per event category either a duplicate id (the main id and the
// duplicate both get the event) or an additional id (only it gets the event).
// Tracking ids look like "UA-12345-1". A plain value; not shared between threads.
class MPAnalyticsConfiguration final {
public:
    MPAnalyticsConfiguration() = default;
    explicit MPAnalyticsConfiguration(const QString& analyticsIdentifier);

    QString analyticsIdentifier() const { return m_analyticsIdentifier; }
    void setAnalyticsIdentifier(const QString& identifier) { m_analyticsIdentifier = identifier; }

    // Category → tracking id.
    QMap<QString, QString> duplicatedEventIdentifiers() const { return m_duplicateIdentifiers; }
    QMap<QString, QString> addtionalEventIdentifiers() const { return m_addtionalIdentifiers; }

    // Each pair is kept only when both texts are given.
    void duplicateEventsForCategory(const QString& category, const QString& toGAID);
    void stopDuplicatingEventsForCategory(const QString& category);
    void addEventsForCategory(const QString& category, const QString& toGAID);
    void stopAddingEventsForCategory(const QString& category);

private:
    QString m_analyticsIdentifier;
    QMap<QString, QString> m_duplicateIdentifiers;
    QMap<QString, QString> m_addtionalIdentifiers;
};
