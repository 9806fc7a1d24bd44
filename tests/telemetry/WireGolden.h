#pragma once

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

// The golden files of the telemetry wire formats, in tests/telemetry/golden/.
// Each holds named cases; by default a case is named after the running test
// function and data row ("function/row"). A ".json" file is one object, case
// → expected document; in the other files a case is its lines "case: text",
// in order. Values that differ between machines or runs are written ${name}
// and filled by the test from the sources the code reads: into JSON as
// escaped string content (quote the placeholder) or as a bare number; into
// the other files as they are, so they must be texts that need no escaping.
namespace WireGolden {

using namespace Qt::StringLiterals;
using Values = QMap<QString, QString>;

inline QString currentCase()
{
    const QString function = QString::fromLatin1(QTest::currentTestFunction());
    const char* row = QTest::currentDataTag();
    return row ? function + u'/' + QString::fromUtf8(row) : function;
}

inline QString filled(const QString& file, const Values& values)
{
    QFile golden(QStringLiteral(ZAVRIN_FIXTURES_DIR "/../telemetry/golden/") + file);
    if (!golden.open(QIODevice::ReadOnly))
        return u"missing golden file "_s + file;
    QString text = QString::fromUtf8(golden.readAll());
    const bool json = file.endsWith(u".json");
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        // A string's JSON form is ["…"]: the content lies between the brackets and quotes.
        const QString value = json
            ? QString::fromUtf8(QJsonDocument(QJsonArray { it.value() }).toJson(QJsonDocument::Compact))
                  .mid(2)
                  .chopped(2)
            : it.value();
        text.replace(u"${"_s + it.key() + u'}', value);
    }
    // Placeholders of the other cases stay unfilled; in JSON they become
    // null, which keeps the file readable (and shows where a value was missed).
    if (json)
        text.replace(QRegularExpression(u"\\$\\{\\w+\\}"_s), u"null"_s);
    return text;
}

// The lines of one case.
inline QStringList lines(const QString& file, const Values& values = {}, const QString& name = currentCase())
{
    QStringList found;
    const QString prefix = name + u": "_s;
    for (const QString& line : filled(file, values).split(u'\n')) {
        if (line.startsWith(prefix))
            found.append(line.mid(prefix.size()));
    }
    return found;
}

// A document as indented lines, keys sorted and every type visible: QCOMPARE
// of two such lists names the first line that differs.
inline QStringList canonical(const QJsonObject& document)
{
    return QString::fromUtf8(QJsonDocument(document).toJson()).split(u'\n');
}

// One case of a JSON file, as canonical lines.
inline QStringList document(const QString& file, const Values& values = {}, const QString& name = currentCase())
{
    QJsonParseError error {};
    const QJsonDocument golden = QJsonDocument::fromJson(filled(file, values).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        return { file + u": "_s + error.errorString() + u" at "_s + QString::number(error.offset) };
    if (!golden.object().contains(name))
        return { file + u": no case "_s + name };
    return canonical(golden.object().value(name).toObject());
}

} // namespace WireGolden
