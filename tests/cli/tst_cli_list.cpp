// `list`, `extract ENTRY…` and `--smart` of the built zavrin-cli: what the
// command line adds to the engine's listing and selections (arguments,
// output, exit statuses, one password for both).
#include "tests/cli/CliRun.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList files(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(QDir(root).relativeFilePath(it.next()));
    found.sort();
    return found;
}

} // namespace

class CliListTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // No command, or an archive that is not there: a usage error.
    void usageErrorsSayHow()
    {
        const CliRun outcome = runCli({}, m_dir->path());
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.err.contains(u"Usage:"_s));
        QVERIFY(outcome.out.isEmpty());
        QCOMPARE(runCli({ u"list"_s, m_dir->path() + u"/missing.zip"_s }, m_dir->path()).status, 2);
    }

    // Every format, in columns and as JSON; names encrypted ask once.
    void listsWhatTheArchiveHolds_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("zip") << u"plain.zip"_s << QByteArray();
        QTest::newRow("rar") << u"plain.rar"_s << QByteArray();
        QTest::newRow("7z") << u"plain.7z"_s << QByteArray();
        QTest::newRow("7z, names encrypted") << u"encrypted-headers.7z"_s << QByteArray("secret\n");
        QTest::newRow("rar, names encrypted") << u"encrypted-headers.rar"_s << QByteArray("secret\n");
    }
    void listsWhatTheArchiveHolds()
    {
        QFETCH(QString, archive);
        QFETCH(QByteArray, input);
        QStringList options { u"--json"_s };
        if (!input.isEmpty())
            options << u"--password-stdin"_s;
        const CliRun json = runCli(QStringList { u"list"_s, fixture(archive) } + options, m_dir->path(), input);
        QCOMPARE(json.status, 0);
        const QJsonArray rows = QJsonDocument::fromJson(json.out).array();
        QVERIFY2(!rows.isEmpty(), json.out.constData());
        bool found = false;
        for (const QJsonValue& row : rows) {
            const QJsonObject entry = row.toObject();
            for (const char* key : { "path", "type", "size", "packedSize", "encrypted" })
                QVERIFY2(entry.contains(QLatin1String(key)), key);
            if (entry.value(u"path").toString().startsWith(u"dir/nested.txt")
                || entry.value(u"path").toString() == u"hello.txt") {
                found = true;
                QCOMPARE(entry.value(u"type").toString(), u"file"_s);
            }
        }
        QVERIFY(found);
        if (input.isEmpty()) {
            const CliRun columns = runCli({ u"list"_s, fixture(archive) }, m_dir->path());
            QCOMPARE(columns.status, 0);
            QCOMPARE(columns.out.count('\n'), rows.size());
        }
    }

    // Entries by name, folders with all below them; a name that matches
    // nothing is a usage error that writes nothing; the password that opened
    // the names is not asked again.
    void extractsTheEntriesNamed()
    {
        const QString out = m_dir->filePath(u"out"_s);
        CliRun outcome
            = runCli({ u"extract"_s, fixture(u"plain.7z"_s), u"-o"_s, out, u"dir"_s, u"./hello.txt"_s }, m_dir->path());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(files(out), (QStringList { u"dir/nested.txt"_s, u"hello.txt"_s }));

        outcome = runCli({ u"extract"_s, fixture(u"plain.zip"_s), u"-o"_s, out + u"2"_s, u"hello.txt"_s, u"nothere"_s },
            m_dir->path());
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.err.contains(u"no entry named nothere"_s));
        QVERIFY(!QFileInfo::exists(out + u"2"_s));

        outcome = runCli({ u"extract"_s, fixture(u"encrypted-headers.7z"_s), u"--password-stdin"_s, u"-o"_s,
                             out + u"3"_s, u"hello.txt"_s },
            m_dir->path(), "secret\n");
        QCOMPARE(outcome.status, 0);
        QCOMPARE(files(out + u"3"_s), QStringList { u"hello.txt"_s });
    }

    // --smart: a folder named after the archive for several top-level items.
    void smartKeepsTheFolderTidy()
    {
        const QString out = m_dir->filePath(u"out"_s);
        const CliRun outcome
            = runCli({ u"extract"_s, fixture(u"plain.zip"_s), u"--smart"_s, u"-o"_s, out }, m_dir->path());
        QCOMPARE(outcome.status, 0);
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { u"plain"_s });
        QVERIFY(QFileInfo(out + u"/plain/dir/nested.txt"_s).isFile());
    }
};

ZAVRIN_TEST(CliListTest)
#include "tst_cli_list.moc"
