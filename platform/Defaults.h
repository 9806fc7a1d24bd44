#pragma once

#include <QMutex>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>

// The user's persistent settings ("user defaults"), kept by QSettings in the
// user's configuration folder. Safe to use from any thread. A missing key
// reads as an invalid QVariant, false, 0 or an empty text.
class Defaults final {
public:
    // The standard defaults of the running user.
    static Defaults& standard();

    // Defaults kept in one INI file; for tests and tools.
    explicit Defaults(const QString& iniFilePath);
    ~Defaults();

    QVariant value(const QString& key) const;
    bool contains(const QString& key) const;
    bool boolForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;
    QVariantMap mapForKey(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);
    // Writes pending changes to disk now.
    void synchronize();

private:
    Defaults();
    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
};
