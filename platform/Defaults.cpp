#include "platform/Defaults.h"

#include "platform/Bundle.h"

#include <QMutexLocker>

Defaults& Defaults::standard()
{
    static Defaults defaults;
    return defaults;
}

Defaults::Defaults()
    : m_settings(std::make_unique<QSettings>(
        QSettings::IniFormat, QSettings::UserScope, Bundle::organizationName(), Bundle::applicationName()))
{
}

Defaults::Defaults(const QString& iniFilePath)
    : m_settings(std::make_unique<QSettings>(iniFilePath, QSettings::IniFormat))
{
}

Defaults::~Defaults() = default;

QVariant Defaults::value(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->value(key);
}

bool Defaults::contains(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    return m_settings->contains(key);
}

bool Defaults::boolForKey(const QString& key) const
{
    return value(key).toBool();
}

QString Defaults::stringForKey(const QString& key) const
{
    return value(key).toString();
}

QVariantMap Defaults::mapForKey(const QString& key) const
{
    return value(key).toMap();
}

void Defaults::setValue(const QString& key, const QVariant& value)
{
    QMutexLocker lock(&m_mutex);
    m_settings->setValue(key, value);
}

void Defaults::remove(const QString& key)
{
    QMutexLocker lock(&m_mutex);
    m_settings->remove(key);
}

void Defaults::synchronize()
{
    QMutexLocker lock(&m_mutex);
    m_settings->sync();
}
