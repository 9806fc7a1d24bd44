// Where and what a job extracts: formats by name, a folder of its own, a
// selection of entries, file systems without the usual calls, and two jobs
// into one folder.
#include "engine/ArchiveListing.h"
#include "engine/extract/ArchiveFormats.h"
#include "engine/safety/SafeDestination.h"
#include "tests/engine/ExtractionFixture.h"
#include "tests/support/TestMain.h"

#include <QScopeGuard>
#include <unistd.h>

using namespace ExtractionTesting;

class ExtractOptionsTest final : public ExtractionFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // The format by the file's name: suffixes in any case, double ones and
    // volume numbers first; the name the archive's own folder gets.
    void formatsByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type"); // empty: no format
        QTest::addColumn<QString>("stem");
        QTest::newRow("zip") << u"a.zip"_s << u"zip"_s << u"a"_s;
        QTest::newRow("capitals") << u"PLAIN.ZIP"_s << u"zip"_s << u"PLAIN"_s;
        QTest::newRow("double name") << u"a.tar.zip"_s << u"zip"_s << u"a.tar"_s;
        QTest::newRow("7z volume") << u"x.7z.002"_s << u"7z"_s << u"x"_s;
        QTest::newRow("rar part") << u"Set.Part02.RAR"_s << u"rar"_s << u"Set"_s;
        QTest::newRow("dotted stem") << u"v1.2.rar"_s << u"rar"_s << u"v1.2"_s;
        QTest::newRow("tar family in capitals") << u"B.TAR.GZ"_s << u"tar"_s << u"B"_s;
        QTest::newRow("zip of a tar") << u"a.tar.gz.zip"_s << u"zip"_s << u"a.tar.gz"_s;
        QTest::newRow("one compressed file") << u"notes.txt.gz"_s << u"tar"_s << u"notes.txt"_s;
        QTest::newRow("short tar suffix") << u"x.tzst"_s << u"tar"_s << u"x"_s;
        QTest::newRow("bare suffix") << u".zip"_s << QString() << u".zip"_s;
        QTest::newRow("unknown") << u"notes.cab"_s << QString() << u"notes.cab"_s;
        QTest::newRow("suffix without dot") << u"zip"_s << QString() << u"zip"_s;
    }

    void formatsByName()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QString, stem);
        const ArchiveFormat* format = ArchiveFormats::forPath(u"/some/where/"_s + name);
        QCOMPARE(format ? format->type : QString(), type);
        QCOMPARE(ArchiveFormats::stem(u"/some/where/"_s + name), stem);
    }

    // Into a folder of its own: an archive of several top-level items gets
    // a new folder named after it; one of a single item goes straight in.
    void ownFolders_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QStringList>("items"); // made, then packed
        QTest::addColumn<QStringList>("existing"); // in the destination before
        QTest::addColumn<QString>("output"); // relative to the destination
        QTest::addColumn<QStringList>("expected"); // new top-level items
        QTest::newRow("one file") << u"one.zip"_s << QStringList { u"a.txt"_s } << QStringList() << QString()
                                  << QStringList { u"a.txt"_s };
        QTest::newRow("one folder") << u"one.zip"_s << QStringList { u"docs/a.txt"_s, u"docs/b.txt"_s } << QStringList()
                                    << QString() << QStringList { u"docs"_s };
        QTest::newRow("two items") << u"two.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s } << QStringList()
                                   << u"two"_s << QStringList { u"two"_s };
        QTest::newRow("name taken") << u"two.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s }
                                    << QStringList { u"two"_s } << u"two (2)"_s << QStringList { u"two (2)"_s };
        QTest::newRow("double name") << u"a.tar.zip"_s << QStringList { u"a.txt"_s, u"b.txt"_s } << QStringList()
                                     << u"a.tar"_s << QStringList { u"a.tar"_s };
        QTest::newRow("single item taken") << u"one.zip"_s << QStringList { u"a.txt"_s } << QStringList { u"a.txt"_s }
                                           << u"one"_s << QStringList { u"one"_s };
    }

    void ownFolders()
    {
        QFETCH(QString, archiveName);
        QFETCH(QStringList, items);
        QFETCH(QStringList, existing);
        QFETCH(QString, output);
        QFETCH(QStringList, expected);
        const QString source = m_root + u"/source"_s;
        for (const QString& item : std::as_const(items))
            QVERIFY(writeFile(source + u'/' + item, item.toUtf8()));
        const QString archive = m_root + u'/' + archiveName;
        QVERIFY(make(source, u"zip"_s,
            QStringList { u"-qr"_s, archive } + QDir(source).entryList(QDir::NoDotAndDotDot | QDir::AllEntries)));
        for (const QString& item : std::as_const(existing))
            QVERIFY(writeFile(m_out + u'/' + item, "there before"));
        const QStringList before = topLevel(m_out);
        ExtractOptions options;
        options.ownFolder = true;
        QVERIFY(succeeds(archive, options));
        QStringList added = topLevel(m_out);
        for (const QString& item : before)
            added.removeOne(item);
        QCOMPARE(added, expected);
        const QString outputFolder = output.isEmpty() ? m_out : m_out + u'/' + output;
        QCOMPARE(m_log->end(NotifyManager::outputKey()).toString(), outputFolder);
        for (const QString& item : std::as_const(items))
            QCOMPARE(snapshot(outputFolder).value(item), u"file:"_s + item);
    }

    // Only the entries asked for come out, whatever their names hold; a
    // selection in an archive with an unsafe name fails with nothing left.
    void subsetsComeOutAlone_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("newline");
        for (const char* row : { "zip", "rar", "7z" })
            QTest::newRow(row) << u"subset."_s + QLatin1String(row) << true;
        // Without a name the 7z listing cannot show, 7zz gets the names.
        QTest::newRow("7z by name") << u"subset.7z"_s << false;
    }

    void subsetsComeOutAlone()
    {
        QFETCH(QString, archive);
        QFETCH(bool, newline);
        const QString source = m_root + u"/source"_s;
        QStringList wanted { u"dir"_s, u"dir/in.txt"_s, u"sp ace.txt"_s, u"q\"uote.txt"_s, u"st*ar.txt"_s,
            u"-dash.txt"_s };
        if (newline)
            wanted.append(u"nl\nname.txt"_s);
        const QStringList others { u"other.txt"_s, u"stXar.txt"_s, u"dir2/x.txt"_s };
        for (const QString& name : wanted + others) {
            if (name != u"dir")
                QVERIFY(writeFile(source + u'/' + name, name.toUtf8()));
        }
        const QStringList top = QDir(source).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
        archive = m_root + u'/' + archive;
        if (archive.endsWith(u".zip"))
            QVERIFY(make(source, u"zip"_s, QStringList { u"-qr"_s, archive, u"--"_s } + top));
        else if (archive.endsWith(u".rar"))
            QVERIFY(make(source, u"rar"_s, QStringList { u"a"_s, u"-idq"_s, archive, u"--"_s } + top));
        else
            QVERIFY(make(source, u"7zz"_s, QStringList { u"a"_s, u"-bso0"_s, archive, u"--"_s } + top));

        std::shared_ptr<const ArchiveListing> listing;
        ZipManager::shared().list(archive, std::nullopt, {}, [&](const Outcome& result, auto list) {
            QVERIFY(result.ok());
            listing = list;
        });
        QTRY_VERIFY(listing);
        std::vector<bool> selection(static_cast<std::size_t>(listing->size()));
        for (qsizetype i = 0; i < listing->size(); ++i) {
            const QString path = listing->path(i).chopped(listing->path(i).endsWith(u'/') ? 1 : 0);
            // The 7z listing shows a newline as "_".
            selection[static_cast<std::size_t>(i)] = wanted.contains(path) || path == u"nl_name.txt";
        }
        ExtractOptions options;
        options.selection = selection;
        QVERIFY(succeeds(archive, options));
        std::sort(wanted.begin(), wanted.end());
        QCOMPARE(snapshot(m_out).keys(), wanted);

        options.selection = std::vector<bool>(3, true);
        m_out = m_root + u"/hostile"_s;
        QVERIFY(fails(fixture(u"hostile-dotdot.zip"_s), options));
        QVERIFY(!QFileInfo::exists(m_out));
    }

    // On file systems without renames that refuse to replace, hard links or
    // nameless files (FAT and exFAT sticks) files come out all the same, and
    // existing ones are still kept. Simulated here; on a real exFAT stick
    // where the machine can mount one.
    void plainFileSystems_data() { formatRows(u"plain"_s); }

    void plainFileSystems()
    {
        QFETCH(QString, archive);
        archive = sample(archive);
        SafeDestination::setPlainFileSystemForTesting(true);
        const auto restore = qScopeGuard([] { SafeDestination::setPlainFileSystemForTesting(false); });
        QVERIFY(writeFile(m_out + u"/hello.txt"_s, "mine\n"));
        QVERIFY(succeeds(archive));
        QMap<QString, QString> expected = plainTree();
        expected[u"hello.txt"_s] = u"file:mine\n"_s;
        QCOMPARE(snapshot(m_out), expected);
        QCOMPARE(m_log->kept(), 1);
        QVERIFY(!hasLeftovers(m_out));
    }

    void realExfat()
    {
        const QString image = m_root + u"/stick.img"_s;
        const QString mountPoint = m_root + u"/stick"_s;
        QFile stick(image);
        QVERIFY(stick.open(QIODevice::WriteOnly) && stick.resize(64 << 20));
        stick.close();
        QProcess loop;
        if (::geteuid() != 0 || !make(m_root, u"mkfs.exfat"_s, { image }))
            QSKIP("cannot make an exFAT file system here");
        loop.start(u"losetup"_s, { u"-f"_s, u"--show"_s, image });
        const QString device = loop.waitForFinished() && loop.exitCode() == 0
            ? QString::fromUtf8(loop.readAllStandardOutput()).trimmed()
            : QString();
        QVERIFY(QDir().mkpath(mountPoint));
        if (device.isEmpty() || !make(m_root, u"mount.exfat-fuse"_s, { device, mountPoint })) {
            if (!device.isEmpty())
                QProcess::execute(u"losetup"_s, { u"-d"_s, device });
            QSKIP("cannot mount an exFAT file system here");
        }
        const auto unmount = qScopeGuard([&] {
            QProcess::execute(u"umount"_s, { mountPoint });
            QProcess::execute(u"losetup"_s, { u"-d"_s, device });
        });
        QMap<QString, QString> expected = plainTree();
        expected.remove(u"link"_s); // exFAT holds no links
        for (const char* format : { "zip", "rar", "7z" }) {
            const QString archive = sample(u"plain."_s + QLatin1String(format));
            m_out = mountPoint + u'/' + QLatin1String(format);
            for (int round = 0; round < 2; ++round) { // the second keeps every file
                QVERIFY2(succeeds(archive), format);
                QCOMPARE(snapshot(m_out), expected);
                QCOMPARE(m_log->kept() > 0, round == 1);
                QVERIFY(!hasLeftovers(m_out));
            }
        }
    }

    // Two jobs into one folder: the second waits for the first, finds its
    // files complete and keeps them; no file mixes the two archives.
    void jobsIntoOneFolderTakeTurns()
    {
        const QString source = m_root + u"/source"_s;
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(source + u"/d/f%1.txt"_s.arg(i), QByteArray("first\n").repeated(100 + i)));
        const QString first = m_root + u"/first.zip"_s, second = m_root + u"/second.zip"_s;
        QVERIFY(make(source, u"zip"_s, { u"-qr"_s, first, u"d"_s }));
        for (int i = 0; i < 300; ++i)
            QVERIFY(writeFile(source + u"/d/f%1.txt"_s.arg(i), QByteArray("second\n").repeated(100 + i)));
        QVERIFY(make(source, u"zip"_s, { u"-qr"_s, second, u"d"_s }));
        JobLog one(first), two(second);
        ZipManager::shared().unzipFileAtPath(first, m_out);
        ZipManager::shared().unzipFileAtPath(second, m_out);
        QVERIFY(one.waitForEnd() && two.waitForEnd());
        QVERIFY(one.succeeded() && two.succeeded());
        QCOMPARE(one.kept() + two.kept(), 300);
        const auto tree = snapshot(m_out);
        const bool firstWon = tree.value(u"d/f0.txt"_s).startsWith(u"file:first");
        for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
            if (it.value() != u"dir")
                QVERIFY2(it.value().startsWith(firstWon ? u"file:first" : u"file:second"), qPrintable(it.key()));
        }
    }
};

ZAVRIN_TEST(ExtractOptionsTest)
#include "tst_extractoptions.moc"
