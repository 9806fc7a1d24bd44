// Compression into every format through ZipManager::compressFiles, read
// back by the formats' own tools: 7-Zip for zip and 7z, GNU tar for tar.*.
#include "engine/NotifyManager.h"
#include "engine/ZipManager.h"
#include "platform/Bundle.h"
#include "tests/engine/ArchiveTesting.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace ZipInspection;
using namespace ArchiveTesting;

namespace {

using Format = CompressionOptions::Format;
using Mode = CompressionOptions::Mode;

constexpr timespec kOddTime { 1600000001, 123456789 };

} // namespace

class ArchiveFormatsTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QStringList m_items; // the corpus, made once
    QString m_source; // a folder holding exactly what the archives must hold
    std::unique_ptr<OwnTemporaryDirectory> m_tmp;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // Runs one job to its end; its notifications all come on the main thread.
    void run(JobLog& log, const QString& archive, const QStringList& items, const CompressionOptions& options)
    {
        ZipManager::shared().compressFiles(archive, models(items), options);
        QVERIFY(log.waitForEnd(120000));
        QVERIFY(log.endedOnceOnMain());
    }

    // Extracts `archive` with its format's own tool.
    bool extract(const QString& archive, Format format, const QString& out, const QString& password)
    {
        QDir().mkpath(out);
        if (CompressionOptions::isTar(format))
            return ArchiveTesting::run(out, u"tar"_s, { u"-xf"_s, archive });
        return sevenZipExtract(archive, out, password);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tmp = std::make_unique<OwnTemporaryDirectory>(path(u"tmp"_s));
        // Modes, times to the nanosecond, links, an empty folder and file,
        // and names with spaces, quotes, stars, leading dashes, line breaks
        // and more than ASCII, at the top and inside.
        m_source = path(u"source"_s);
        writeFile(m_source + u"/a.txt"_s, "alpha\n");
        ::chmod(QFile::encodeName(m_source + u"/a.txt"_s).constData(), 0640);
        writeFile(m_source + u"/-top *?.txt"_s, wordSoup(300000));
        writeFile(m_source + u"/b/inside.txt"_s, "inside\n");
        ::chmod(QFile::encodeName(m_source + u"/b/inside.txt"_s).constData(), 0750);
        writeFile(m_source + u"/b/文件 ü.txt"_s, "unicode\n");
        writeFile(m_source + u"/b/-lead 'q' \"d\" *x"_s, "odd\n");
        writeFile(m_source + u"/b/new\nline.txt"_s, "two\nlines\n");
        writeFile(m_source + u"/b/zero"_s, {});
        writeFile(m_source + u"/b/sub/deep.txt"_s, randomBytes(20000));
        QDir().mkpath(m_source + u"/b/empty"_s);
        ::symlink("inside.txt", QFile::encodeName(m_source + u"/b/near"_s).constData());
        ::symlink("sub", QFile::encodeName(m_source + u"/b/to-sub"_s).constData());
        for (const QString& file : { u"/a.txt"_s, u"/b/inside.txt"_s, u"/-top *?.txt"_s })
            setTimes(m_source + file, kOddTime);
        m_items = QStringList { m_source + u"/a.txt"_s, m_source + u"/b"_s, m_source + u"/-top *?.txt"_s };
    }

    void cleanupTestCase() { m_tmp.reset(); }

    // Each format holds the items under their names, with their modes,
    // times, links and contents, as its own tool reads them back; the job
    // reports as a zip job does, and leaves nothing but the archive.
    void roundTrip_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("password");
        QTest::newRow("zip, stored") << int(Format::Zip) << int(Mode::Store) << QString();
        QTest::newRow("zip, stored, with a password") << int(Format::Zip) << int(Mode::Store) << u"pässword"_s;
        QTest::newRow("zip, normal") << int(Format::Zip) << int(Mode::Normal) << QString();
        QTest::newRow("7z, fastest") << int(Format::SevenZip) << int(Mode::Fastest) << QString();
        QTest::newRow("7z, maximum, with a password") << int(Format::SevenZip) << int(Mode::Maximum) << u"s3cret"_s;
        QTest::newRow("tar.zst, normal") << int(Format::TarZst) << int(Mode::Normal) << QString();
        QTest::newRow("tar.gz, store") << int(Format::TarGz) << int(Mode::Store) << QString();
        QTest::newRow("tar.xz, maximum") << int(Format::TarXz) << int(Mode::Maximum) << QString();
    }
    void roundTrip()
    {
        QFETCH(int, format);
        QFETCH(int, mode);
        QFETCH(QString, password);
        RecordingToasts toasts;
        CompressionOptions options;
        options.format = Format(format);
        options.mode = Mode(mode);
        if (!password.isEmpty())
            options.password = password;
        const QString folder = path(u"round "_s + QString::fromLatin1(QTest::currentDataTag()));
        QDir().mkpath(folder);
        const QString archive = folder + u"/Archive."_s + CompressionOptions::formatName(options.format);
        JobLog watcher(archive);
        run(watcher, archive, m_items, options);

        QVERIFY2(watcher.succeeded(), qPrintable(watcher.reason()));
        QCOMPARE(watcher.names(), (QStringList { NotifyManager::LocalFilesDidChange(), NotifyManager::JobDidEnd() }));
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Success, L(u"压缩完成"_s)), 1);
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { QFileInfo(archive).fileName() });

        const QString out = folder + u"/out"_s;
        QVERIFY(extract(archive, options.format, out, password));
        QCOMPARE(tree(out, Detail::FileTimes), tree(m_source, Detail::FileTimes));
        if (options.format == Format::SevenZip && !password.isEmpty())
            QVERIFY(!sevenZipTest(archive, u"wrong"_s)); // the names too need the password
        if (options.format == Format::Zip) {
            for (const QJsonObject& entry : entries(archive)) {
                const bool isFolder = entry[u"name"_s].toString().endsWith(u'/');
                const bool deflated = entry[u"size"_s].toInt() > 0 && options.mode != Mode::Store;
                const int method = isFolder ? 0 : !password.isEmpty() ? 99 : deflated ? 8 : 0;
                QCOMPARE(entry[u"method"_s].toInt(), method);
                // Stored: in deflate's uncompressed blocks (5 bytes each), with
                // the salt, verifier and code around them.
                const qint64 size = entry[u"size"_s].toInteger();
                const qint64 stored = entry[u"csize"_s].toInteger() - 28;
                if (!password.isEmpty() && !isFolder)
                    QVERIFY2(stored >= size && stored <= size + 5 * (size / 16384 + 2),
                        qPrintable(entry[u"name"_s].toString()));
            }
        }
    }

    // tar has no encryption: a password is refused before any work, never ignored.
    void aPasswordWithTarIsRefused()
    {
        RecordingToasts toasts;
        CompressionOptions options;
        options.format = Format::TarZst;
        options.password = u"secret"_s;
        const QString archive = path(u"refused.tar.zst"_s);
        JobLog watcher(archive);
        run(watcher, archive, m_items, options);
        QCOMPARE(watcher.status(), u"Unsupported"_s);
        QCOMPARE(watcher.events().size(), 1);
        QVERIFY(watcher.reason().contains(u"cannot be encrypted"_s));
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(u"创建压缩文件错误"_s)), 1);
        QVERIFY(!QFile::exists(archive));
    }

    // Whatever stands at the destination is kept, in every format, and
    // nothing of the job is left beside it.
    void anExistingFileIsNeverReplaced_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("zip") << int(Format::Zip);
        QTest::newRow("7z") << int(Format::SevenZip);
        QTest::newRow("tar.zst") << int(Format::TarZst);
    }
    void anExistingFileIsNeverReplaced()
    {
        QFETCH(int, format);
        CompressionOptions options;
        options.format = Format(format);
        const QString folder = path(u"taken-%1"_s.arg(format));
        const QString archive = folder + u"/Taken.archive"_s;
        writeFile(archive, "someone's file");
        JobLog watcher(archive);
        run(watcher, archive, m_items, options);
        QCOMPARE(watcher.status(), u"NameTaken"_s);
        QCOMPARE(readFile(archive), QByteArray("someone's file"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { u"Taken.archive"_s });
    }

    // 7-Zip names an item after the file itself: a chosen link is packed as
    // what it points to under the link's own name, encrypted names too; it
    // is refused only where two items would meet under one name.
    void sevenZipKeepsTheNamesOfChosenLinks_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QString();
        QTest::newRow("encrypted names") << u"s3cret"_s;
    }
    void sevenZipKeepsTheNamesOfChosenLinks()
    {
        QFETCH(QString, password);
        CompressionOptions options;
        options.format = Format::SevenZip;
        if (!password.isEmpty())
            options.password = password;
        const QString folder = path(u"links "_s + QString::fromLatin1(QTest::currentDataTag()));
        const QString link = folder + u"/my *link"_s;
        QDir().mkpath(folder);
        QVERIFY(QFile::link(m_source + u"/b"_s, link));

        const QString renamed = folder + u"/renamed.7z"_s;
        JobLog watcher(renamed);
        run(watcher, renamed, { link, m_source + u"/a.txt"_s }, options);
        QVERIFY(watcher.succeeded());
        QVERIFY(extract(renamed, Format::SevenZip, folder + u"/out"_s, password));
        QCOMPARE(QDir(folder + u"/out"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            (QStringList { u"a.txt"_s, u"my *link"_s }));
        QCOMPARE(readFile(folder + u"/out/my *link/inside.txt"_s), QByteArray("inside\n"));

        // "b" from the link and "b" itself would be one item on the way.
        const QString refused = folder + u"/refused.7z"_s;
        JobLog refusedWatcher(refused);
        run(refusedWatcher, refused, { link, m_source + u"/b"_s }, options);
        QCOMPARE(refusedWatcher.status(), u"Unsupported"_s);
        QVERIFY(!QFile::exists(refused));
    }

    // A large file moves the progress by the bytes written, not only at
    // its end, in every format.
    void progressMovesInsideALargeFile_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("inside"); // reports between 0 and 1, at least
        QTest::newRow("zip") << int(Format::Zip) << 10;
        QTest::newRow("7z") << int(Format::SevenZip) << 3;
        QTest::newRow("tar.gz") << int(Format::TarGz) << 3;
    }
    void progressMovesInsideALargeFile()
    {
        QFETCH(int, format);
        QFETCH(int, inside);
        const QString large = path(u"progress/large.bin"_s);
        if (!QFile::exists(large))
            writeFile(large, randomBytes(40 * 1024 * 1024));
        CompressionOptions options;
        options.format = Format(format);
        options.mode = Mode::Fastest;
        const QString archive = path(u"progress/large."_s) + CompressionOptions::formatName(options.format);
        JobLog watcher(archive);
        run(watcher, archive, { large }, options);
        QVERIFY(watcher.succeeded());
        QVERIFY(watcher.progressedWithin(inside));
    }
};

ZAVRIN_TEST(ArchiveFormatsTest)
#include "tst_archiveformats.moc"
