#include "telemetry/MPTrackingRequestParams.h"

#include <algorithm>

MPParameters::MPParameters(std::initializer_list<Entry> entries)
{
    for (const Entry& entry : entries)
        insert(entry.first, entry.second);
}

void MPParameters::insert(const QString& key, const QString& value)
{
    for (Entry& entry : m_entries) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    m_entries.append({ key, value });
}

bool MPParameters::contains(const QString& key) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(), [&key](const Entry& e) { return e.first == key; });
}

QString MPParameters::value(const QString& key) const
{
    for (const Entry& entry : m_entries) {
        if (entry.first == key)
            return entry.second;
    }
    return {};
}

QStringList MPParameters::keys() const
{
    QStringList keys;
    keys.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        keys.append(entry.first);
    return keys;
}

QVariantMap MPParameters::toVariantMap() const
{
    QVariantMap map;
    for (const Entry& entry : m_entries)
        map.insert(entry.first, entry.second);
    return map;
}

QString MPTrackingRequestParams::valueForField(const QString& name) const
{
    if (name == u"hitType")
        return hitType;
    if (name == u"contentDescription")
        return contentDescription;
    if (name == u"customDimension")
        return customDimension;
    return {};
}

MPParameters MPTrackingRequestParams::dictionaryRepresentation() const
{
    MPParameters parameters;
    for (const auto& [wireKey, field] : representationKeys()) {
        const QString text = valueForField(field);
        if (!text.isEmpty())
            parameters.insert(wireKey, text);
    }
    return parameters;
}

MPTrackingRequestParams::KeyMap MPEventParams::dictionaryRepresentationKeys()
{
    return {
        { QStringLiteral("t"), QStringLiteral("hitType") },
        { QStringLiteral("cd"), QStringLiteral("contentDescription") },
        { QStringLiteral("cd1"), QStringLiteral("customDimension") },
        { QStringLiteral("ec"), QStringLiteral("category") },
        { QStringLiteral("ea"), QStringLiteral("action") },
        { QStringLiteral("el"), QStringLiteral("label") },
        { QStringLiteral("ev"), QStringLiteral("value") },
    };
}

QString MPEventParams::valueForField(const QString& name) const
{
    if (name == u"category")
        return category;
    if (name == u"action")
        return action;
    if (name == u"label")
        return label;
    if (name == u"value")
        return value;
    return MPTrackingRequestParams::valueForField(name);
}

MPTrackingRequestParams::KeyMap MPAppViewParams::dictionaryRepresentationKeys()
{
    return {
        { QStringLiteral("t"), QStringLiteral("hitType") },
        { QStringLiteral("cd"), QStringLiteral("contentDescription") },
    };
}

MPTrackingRequestParams::KeyMap MPTimingParams::dictionaryRepresentationKeys()
{
    return {
        { QStringLiteral("t"), QStringLiteral("hitType") },
        { QStringLiteral("utc"), QStringLiteral("category") },
        { QStringLiteral("utv"), QStringLiteral("variable") },
        { QStringLiteral("utt"), QStringLiteral("time") },
        { QStringLiteral("utl"), QStringLiteral("label") },
    };
}

QString MPTimingParams::valueForField(const QString& name) const
{
    if (name == u"category")
        return category;
    if (name == u"variable")
        return variable;
    if (name == u"time")
        return time;
    if (name == u"label")
        return label;
    return MPTrackingRequestParams::valueForField(name);
}
