#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// The application's information values (from build settings) and its string
// tables. The tables are Qt Linguist files for "zh_CN", "zh_TW" and "en"; the
// one used is the first that matches the user's preferred languages, English
// when none does. Lookups are safe from any thread.
class Bundle final {
public:
    static QString identifier(); // "CFBundleIdentifier"
    static QString name(); // "CFBundleName"
    static QString displayName(); // "CFBundleDisplayName"
    static QString shortVersion(); // "CFBundleShortVersionString"
    static QString buildVersion(); // "CFBundleVersion"
    static QString organizationName(); // settings and data folders live under it
    static QString applicationName();

    enum class Endpoint {
        Log,
        Analytics,
        Feedback,
    };
    // Base address of a collection service: ZAVRIN_ENDPOINT_BASE when set in
    // the environment, else the build setting. Empty when not configured.
    static QUrl endpointBase(Endpoint endpoint);
    // `endpointBase` with `path` appended; empty when not configured.
    static QUrl endpointUrl(Endpoint endpoint, const QString& path);
    static QString analyticsTrackingId();
    // The store listing that the rating action opens; both empty by default.
    static QString storeHost();
    static QString storeIdentifier();

    // The user's preferred languages, most preferred first (BCP 47 names).
    static QStringList preferredLanguages();
    // Replaces the system's preferred languages; an empty list restores them.
    static void setPreferredLanguages(const QStringList& languages);
    // The table in use: "zh_CN", "zh_TW" or "en".
    static QString preferredLocalization();
    // The table names we ship, in lookup order.
    static QStringList localizations();

    // The text for `key` in the table in use; `key` itself when the table lacks it.
    static QString localizedString(const QString& key);
};

// Shorthand for the localised text of a key.
inline QString L(const QString& key)
{
    return Bundle::localizedString(key);
}
