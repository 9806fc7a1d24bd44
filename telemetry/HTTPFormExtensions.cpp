#include "telemetry/HTTPFormExtensions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

QString HTTPFormExtensions::escape(const QString& text)
{
    // toPercentEncoding keeps ALPHA, DIGIT and "-._~"; the rest of RFC 2396's
    // unreserved marks and the reserved characters other than "&" and "+"
    // stay readable as well.
    static const QByteArray keep = QByteArrayLiteral("!*'();/?:@=$,");
    return QString::fromLatin1(text.toUtf8().toPercentEncoding(keep));
}

QString HTTPFormExtensions::textForValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        // A nested value has no text form of its own; JSON keeps it whole
        // instead of dropping the hit.
        const QJsonValue json = QJsonValue::fromVariant(value);
        const QJsonDocument document = json.isArray() ? QJsonDocument(json.toArray()) : QJsonDocument(json.toObject());
        return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
    }
    default:
        return value.toString();
    }
}

QString HTTPFormExtensions::stringAsWWWURLEncodedFormFromDictionary(const QVariantMap& dictionary)
{
    QString result;
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        if (it != dictionary.cbegin())
            result += u'&';
        result += escape(it.key()) + u'=' + escape(textForValue(it.value()));
    }
    return result;
}
