#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

// The golden files of the telemetry wire formats, in tests/telemetry/golden/.
// Each holds named cases, by default the running test function ("function" or
// "function/row"). A ".json" file is one object, case → document; in the
// others a case is its lines "case: text", in order. Values that differ
// between machines or runs stand as ${name}, filled from the sources the code
// reads: in JSON as string content (quote the placeholder) or a bare number,
// elsewhere as they are (so only texts that need no escaping).
namespace WireGolden {

using namespace Qt::StringLiterals;
using Values = QMap<QString, QString>;

inline QString currentCase()
{
    const char* row = QTest::currentDataTag();
    return QString::fromLatin1(QTest::currentTestFunction()) + (row ? u'/' + QString::fromUtf8(row) : QString());
}

inline QString filled(const QString& file, const Values& values)
{
    QFile golden(QStringLiteral(ZAVRIN_FIXTURES_DIR "/../telemetry/golden/") + file);
    QString text = golden.open(QIODevice::ReadOnly) ? QString::fromUtf8(golden.readAll()) : u"missing "_s + file;
    const bool json = file.endsWith(u".json");
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        // A string's JSON form is ["…"]: its escaped content lies within.
        const QByteArray escaped = QJsonDocument(QJsonArray { it.value() }).toJson(QJsonDocument::Compact);
        text.replace(u"${"_s + it.key() + u'}', json ? QString::fromUtf8(escaped).mid(2).chopped(2) : it.value());
    }
    // The other cases' placeholders: null keeps the file readable, and shows a value this case missed.
    return json ? text.replace(QRegularExpression(u"\\$\\{\\w+\\}"_s), u"null"_s) : text;
}

inline QStringList lines(const QString& file, const Values& values = {}, const QString& name = currentCase())
{
    QStringList found;
    for (const QString& line : filled(file, values).split(u'\n')) {
        if (line.startsWith(name + u": "_s))
            found.append(line.mid(name.size() + 2));
    }
    return found;
}

// A document as indented lines, keys sorted and every type visible: QCOMPARE
// of two such lists names the first line that differs.
inline QStringList canonical(const QJsonObject& document)
{
    return QString::fromUtf8(QJsonDocument(document).toJson()).split(u'\n');
}

inline QStringList document(const QString& file, const Values& values = {}, const QString& name = currentCase())
{
    QJsonParseError error {};
    const QJsonObject golden = QJsonDocument::fromJson(filled(file, values).toUtf8(), &error).object();
    if (error.error != QJsonParseError::NoError || !golden.contains(name))
        return { file + u": no case "_s + name + u", "_s + error.errorString() };
    return canonical(golden.value(name).toObject());
}

} // namespace WireGolden
