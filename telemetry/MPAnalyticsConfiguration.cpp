#include "telemetry/MPAnalyticsConfiguration.h"

MPAnalyticsConfiguration::MPAnalyticsConfiguration(const QString& analyticsIdentifier)
    : m_analyticsIdentifier(analyticsIdentifier)
{
}

void MPAnalyticsConfiguration::duplicateEventsForCategory(const QString& category, const QString& toGAID)
{
    if (!category.isEmpty() && !toGAID.isEmpty())
        m_duplicateIdentifiers.insert(category, toGAID);
}

void MPAnalyticsConfiguration::stopDuplicatingEventsForCategory(const QString& category)
{
    m_duplicateIdentifiers.remove(category);
}

void MPAnalyticsConfiguration::addEventsForCategory(const QString& category, const QString& toGAID)
{
    if (!category.isEmpty() && !toGAID.isEmpty())
        m_addtionalIdentifiers.insert(category, toGAID);
}

void MPAnalyticsConfiguration::stopAddingEventsForCategory(const QString& category)
{
    m_addtionalIdentifiers.remove(category);
}
