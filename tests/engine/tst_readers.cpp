// What each reader does of its own format: zip directories in slices and
// entries in each other's way, 7z names, checksums and budgets, rar links
// and volumes, split sets.
#include "engine/extract/NameDecoder.h"
#include "tests/engine/ExtractionFixture.h"
#include "tests/support/TestMain.h"

#include <atomic>
#include <iconv.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

using namespace ExtractionTesting;

namespace {

QByteArray encode(const QString& text, const QByteArray& codec)
{
    iconv_t cd = iconv_open(codec.constData(), "UTF-8");
    QByteArray in = text.toUtf8();
    QByteArray out(in.size() * 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    size_t srcLeft = static_cast<size_t>(in.size());
    size_t dstLeft = static_cast<size_t>(out.size());
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    out.truncate(out.size() - static_cast<qsizetype>(dstLeft));
    return out;
}

} // namespace

class ReaderTest final : public ExtractionFixture {
    Q_OBJECT

private slots:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Zip entries are shared out among the cores, but where their order
    // decides what is kept (one name twice, a file where a later entry needs
    // a folder) the first in the archive wins, as one by one.
    void zipEntriesInEachOthersWayKeepArchiveOrder()
    {
        const QString archive = sample(u"order.zip"_s);
        QVERIFY(succeeds(archive));
        const auto tree = snapshot(m_out);
        QCOMPARE(tree.value(u"same.txt"_s), u"file:first\n"_s);
        QCOMPARE(tree.value(u"a"_s), u"file:a file\n"_s);
        QVERIFY(!tree.contains(u"a/b.txt"_s));
        QCOMPARE(tree.value(u"f39.txt"_s), u"file:"_s + u"file 39\n"_s.repeated(50));
        QCOMPARE(tree.size(), 42);
        QVERIFY(!hasLeftovers(m_out));
    }

    // Archives of many independent entries are extracted on every core
    // (solid rar archives by one walker): every entry comes out whole,
    // whichever thread placed it.
    void manyEntriesComeOutWhole_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("password");
        QTest::newRow("zip") << u"zip"_s << QStringList { u"-qr"_s } << QString();
        QTest::newRow("rar5") << u"rar"_s << QStringList { u"a"_s, u"-idq"_s } << QString();
        QTest::newRow("rar5 solid") << u"rar"_s << QStringList { u"a"_s, u"-idq"_s, u"-s"_s } << QString();
        QTest::newRow("rar5 encrypted") << QStringLiteral("rar") << QStringList { u"a"_s, u"-idq"_s, u"-psecret"_s }
                                        << u"secret"_s;
    }

    void manyEntriesComeOutWhole()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, options);
        QFETCH(QString, password);
        const QString source = m_root + u"/source"_s;
        for (int i = 0; i < 120; ++i) {
            const QByteArray line = "entry " + QByteArray::number(i) + " of the tree\n";
            QVERIFY(writeFile(source + u"/d%1/f%2.txt"_s.arg(i % 6).arg(i), line.repeated(i * i % 9000)));
        }
        const QString archive = m_root + u"/many."_s + program;
        QVERIFY(make(
            source, program, options + QStringList { archive, u"d0"_s, u"d1"_s, u"d2"_s, u"d3"_s, u"d4"_s, u"d5"_s }));
        if (!password.isEmpty())
            m_panels->queuePassword(password);
        QVERIFY(succeeds(archive));
        QCOMPARE(snapshot(m_out), snapshot(source));
        QVERIFY(!hasLeftovers(m_out));
    }

    // More than 65 535 entries; the progress of so many entries reaches the
    // main thread thinned out, and the final 1 always.
    // The archive is listed on the worker: the call returns at once, while
    // listing 100 000 entries takes a good part of a second.
    void manyEntriesAndThinProgress()
    {
        const QString archive = m_root + u"/many.zip"_s;
        QVERIFY(make(m_root, u"craft"_s, { u"many"_s, u"100000"_s, archive }));
        JobLog log(archive);
        QElapsedTimer call;
        call.start();
        ZipManager::shared().unzipFileAtPath(archive, m_out);
        const qint64 returned = call.elapsed();
        QVERIFY(log.waitForEnd());
        QVERIFY2(returned < 50, qPrintable(QString::number(returned)));
        QVERIFY(log.succeeded());
        QCOMPARE(snapshot(m_out).value(u"last.txt"_s), u"file:the last entry\n"_s);
        const int posted = log.count(NotifyManager::UnzipProgress());
        QVERIFY2(posted <= 102 + log.elapsed() / 50, qPrintable(QString::number(posted)));
        QCOMPARE(toastCount(Kind::Info, kExtracting), 1);
    }

    // The central directory is read a slice at a time. Small slices make a
    // few hundred entries span dozens; every archive must come out as when
    // its directory is read whole, with the progress running forward.
    void zipDirectoryInSlices_data()
    {
        QTest::addColumn<QString>("recipe"); // a fixture or "tree", then changes made to it
        QTest::addColumn<int>("slice");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Outcome::Status>("status");
        QTest::addColumn<bool>("writes"); // when the job fails
        using S = Outcome::Status;
        QTest::newRow("tree") << u"tree"_s << 7 << QString() << S::Done << true;
        QTest::newRow("every kind of entry") << u"plain.zip"_s << 2 << QString() << S::Done << true;
        QTest::newRow("ZIP64 entries") << u"zip64.zip"_s << 1 << QString() << S::Done << true;
        QTest::newRow("ZIP64 end records") << u"many"_s << 16 << QString() << S::Done << true;
        QTest::newRow("entries in each other's way") << u"order.zip"_s << 5 << QString() << S::Done << true;
        QTest::newRow("legacy names") << u"legacy-gbk.zip"_s << 1 << QString() << S::Done << true;
        QTest::newRow("comment") << u"tree comment"_s << 7 << QString() << S::Done << true;
        QTest::newRow("end record in the comment") << u"tree comment decoy"_s << 7 << QString() << S::Done << true;
        QTest::newRow("empty file") << u"empty"_s << 1 << QString() << S::NotAnArchive << false;
        QTest::newRow("named pipe") << u"fifo"_s << 1 << QString() << S::NotAnArchive << false;
        QTest::newRow("unsafe name in the last slice")
            << u"many ../evil.txt"_s << 16 << QString() << S::Unsafe << false;
        QTest::newRow("data past the end of the file") << u"tree past-end"_s << 7 << QString() << S::Damaged << true;
        QTest::newRow("damaged record in a later slice")
            << u"tree break-extra"_s << 7 << QString() << S::Damaged << false;
        QTest::newRow("right password") << u"tree aes"_s << 7 << u"secret"_s << S::Done << true;
        QTest::newRow("wrong password in a later slice")
            << u"tree aes"_s << 7 << u"wrong"_s << S::WrongPassword << false;
    }

    void zipDirectoryInSlices()
    {
        QFETCH(QString, recipe);
        QFETCH(int, slice);
        QFETCH(QString, password);
        QFETCH(Outcome::Status, status);
        QFETCH(bool, writes);
        const QStringList steps = recipe.split(u' ');
        QString archive = m_root + u"/sliced.zip"_s;
        if (steps.first() == u"many") {
            QVERIFY(make(m_root, u"craft"_s, { u"many"_s, u"300"_s, archive, steps.value(1, u"last.txt"_s) }));
        } else if (steps.first() == u"tree") {
            const QString source = m_root + u"/source"_s;
            for (int i = 0; i < 200; ++i)
                QVERIFY(writeFile(source + u"/d%1/f%2.txt"_s.arg(i % 5).arg(i), QByteArray("line\n").repeated(i * i)));
            QVERIFY(QDir().mkpath(source + u"/d5"_s));
            QVERIFY(
                make(source, u"zip"_s, { u"-qr"_s, archive, u"d0"_s, u"d1"_s, u"d2"_s, u"d3"_s, u"d4"_s, u"d5"_s }));
        } else if (steps.first() == u"empty") {
            QVERIFY(writeFile(archive, {}));
        } else if (steps.first() == u"fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(archive).constData(), 0600), 0);
        } else {
            QVERIFY(QFile::copy(sample(steps.first()), archive));
        }
        if (steps.contains(u"comment"))
            QVERIFY(make(m_root, u"craft"_s, { u"comment"_s, archive, steps.value(2) }));
        if (steps.contains(u"past-end"))
            QVERIFY(make(m_root, u"craft"_s, { u"past-end"_s, archive }));
        if (steps.contains(u"break-extra"))
            QVERIFY(make(m_root, u"craft"_s, { u"break-extra"_s, archive, u"d4/f199.txt"_s }));
        if (steps.contains(u"aes")) {
            QVERIFY(writeFile(m_root + u"/late.txt"_s, "added last, encrypted\n"));
            QVERIFY(make(m_root, u"7zz"_s,
                { u"a"_s, u"-bd"_s, u"-bso0"_s, u"-tzip"_s, u"-mem=AES256"_s, u"-psecret"_s, archive, u"late.txt"_s }));
        }
        const std::optional<QString> secret = password.isNull() ? std::nullopt : std::optional(password);

        const QString whole = m_root + u"/whole"_s;
        QCOMPARE(extractZip(archive, whole, secret, ZipReader::kSliceEntries, {}).status, status);
        ZipReader reader(archive, slice);
        reader.open(std::nullopt);
        QCOMPARE(reader.needsPassword(), !password.isNull());
        QCOMPARE(reader.checkPassword(password), status != Outcome::Status::WrongPassword);
        double last = -1;
        bool forward = true;
        const Outcome sliced = extractZip(archive, m_out, secret, slice, [&](double fraction) {
            forward = forward && fraction > last && fraction <= 1.0;
            last = fraction;
        });
        QCOMPARE(sliced.status, status);
        const auto tree = snapshot(m_out);
        QCOMPARE(tree, snapshot(whole));
        QVERIFY(!QFileInfo::exists(m_root + u"/evil.txt"_s));
        QCOMPARE(!tree.isEmpty(), writes);
        if (status != Outcome::Status::Done)
            return;
        QVERIFY(forward && last == 1.0);
        for (auto it = tree.keyBegin(); it != tree.keyEnd(); ++it) {
            const struct stat ours = lstatOf(m_out + u'/' + *it), theirs = lstatOf(whole + u'/' + *it);
            QCOMPARE(ours.st_mode, theirs.st_mode);
            if (!S_ISLNK(ours.st_mode))
                QCOMPARE(ours.st_mtime, theirs.st_mtime);
        }
    }

    // Paths reach 7zz without its wildcard, switch or list-file rules.
    void sevenZipPathsAreLiteral_data()
    {
        QTest::addColumn<QString>("archiveName");
        QTest::addColumn<QString>("folderName");
        QTest::newRow("question mark, star") << u"a?.7z"_s << u"out*dir"_s;
        QTest::newRow("spaces, dash, at, bracket") << u"  -@[a].7z"_s << u"  -@[o]ut"_s;
    }

    void sevenZipPathsAreLiteral()
    {
        QFETCH(QString, archiveName);
        QFETCH(QString, folderName);
        const QString archive = m_root + u'/' + archiveName;
        QVERIFY(QFile::copy(fixture(u"plain.7z"_s), archive));
        // Decoys that the wildcards would match.
        QVERIFY(QFile::copy(fixture(u"hostile-links.7z"_s), m_root + u"/ab.7z"_s));
        QVERIFY(QFile::copy(fixture(u"hostile-links.7z"_s), m_root + u"/a.7z"_s));
        m_out = m_root + u'/' + folderName;
        QVERIFY(succeeds(archive));
        QCOMPARE(snapshot(m_out), plainTree());
        QCOMPARE(topLevel(m_root).size(), 5);
    }

    // Only an encrypted 7z entry whose CRC matched proves a password: an
    // archive whose encrypted entries carry none cannot, whatever is typed.
    void sevenZipPasswordsNeedAChecksum_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("password");
        QTest::addColumn<Outcome::Status>("status");
        QTest::addColumn<QStringList>("files");
        using S = Outcome::Status;
        const QString secret = u"secret"_s, wrong = u"wrong"_s;
        QTest::newRow("no checksum, right password")
            << u"no-crc.7z"_s << secret << S::PasswordUnconfirmed << QStringList();
        QTest::newRow("no checksum, wrong password")
            << u"no-crc.7z"_s << wrong << S::PasswordUnconfirmed << QStringList();
        QTest::newRow("one checksum, right password")
            << u"half-crc.7z"_s << secret << S::Done << QStringList { u"checked.txt"_s, u"secret.txt"_s };
        QTest::newRow("one checksum, wrong password") << u"half-crc.7z"_s << wrong << S::WrongPassword << QStringList();
    }

    void sevenZipPasswordsNeedAChecksum()
    {
        QFETCH(QString, archive);
        QFETCH(QString, password);
        QFETCH(Outcome::Status, status);
        QFETCH(QStringList, files);
        archive = sample(archive);
        m_panels->queuePassword(password);
        QVERIFY(extracted(archive));
        QCOMPARE(m_log->status(), Outcome::statusName(status));
        QCOMPARE(snapshot(m_out).keys(), files);
    }

    // Names the listing cannot show as they are, and deletion markers left
    // by an update, which are skipped: never a reason to touch a file.
    void sevenZipOddEntries()
    {
        const QString names = sample(u"control-names.7z"_s);
        QVERIFY(succeeds(names));
        QCOMPARE(snapshot(m_out),
            (QMap<QString, QString> { { u"nl\nname.txt"_s, u"file:newline\n"_s }, { u"end\r"_s, u"file:return\n"_s },
                { u"ctl\u0001name.txt"_s, u"file:control\n"_s } }));

        m_out = m_root + u"/marked"_s;
        QVERIFY(writeFile(m_out + u"/d/gone.txt"_s, "still here\n"));
        QVERIFY(succeeds(sample(u"anti.7z"_s)));
        QCOMPARE(snapshot(m_out),
            (QMap<QString, QString> { { u"d"_s, u"dir"_s }, { u"d/kept.txt"_s, u"file:kept\n"_s },
                { u"d/gone.txt"_s, u"file:still here\n"_s } }));
    }

    // Extracted while it is listed, a 7z archive waits past a small budget
    // until every name is checked: a refused one never fills the disk.
    void sevenZipWaitsForItsListing()
    {
        const QString archive = sample(u"slow-refused.7z"_s);
        const QByteArray mountPoint = QFile::encodeName(m_out);
        if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64m") != 0)
            QSKIP("cannot mount a small file system here");
        std::atomic<bool> done = false;
        std::atomic<qint64> most = 0;
        std::thread watcher([&] {
            while (!done) {
                struct statvfs disk { };
                if (::statvfs(mountPoint.constData(), &disk) == 0)
                    most = std::max<qint64>(most, qint64(disk.f_blocks - disk.f_bfree) * qint64(disk.f_frsize));
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        const bool ended = extracted(archive);
        done = true;
        watcher.join();
        const auto tree = snapshot(m_out);
        ::umount(mountPoint.constData());
        QVERIFY(ended);
        QCOMPARE(m_log->status(), Outcome::statusName(Outcome::Status::Unsafe));
        QVERIFY(tree.isEmpty());
        QVERIFY2(most < 40 * 1024 * 1024, qPrintable(QString::number(most)));
    }

    void sevenZipFullDiskFails()
    {
        const QString archive = sample(u"full.7z"_s);
        if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(m_out).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        const bool failed = fails(archive);
        const auto tree = snapshot(m_out);
        ::umount(QFile::encodeName(m_out).constData());
        QVERIFY(failed);
        QCOMPARE(toastCount(Kind::Error, kError), 1);
        QVERIFY(!tree.contains(u"big.bin"_s));
        QVERIFY2(
            std::none_of(tree.keyBegin(), tree.keyEnd(), [](const QString& key) { return key.contains(u".zavrin-"); }),
            qPrintable(tree.keys().join(u' ')));
    }

    // Hard links and file references point at an entry this job extracted.
    void rarLinksToEarlierEntries_data()
    {
        QTest::addColumn<QStringList>("existing"); // made before the job
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<QStringList>("expected"); // "path=snapshot value"
        const QString a = u"first file content\n"_s;
        const QString same = u"same bytes here, long enough\n"_s;
        QTest::newRow("fresh") << QStringList() << true
                               << QStringList { u"d/hard.txt=file:"_s + a, u"d/same2.txt=file:"_s + same };
        // The user's own a.txt is kept and never becomes the link's content.
        QTest::newRow("target kept") << QStringList { u"a.txt"_s } << false
                                     << QStringList { u"a.txt=file:mine"_s, u"d/same2.txt=file:"_s + same };
        QTest::newRow("extracted again") << QStringList {
            u"a.txt"_s, u"d/hard.txt"_s, u"same1.txt"_s, u"d/same2.txt"_s
        } << true << QStringList { u"a.txt=file:mine"_s, u"d/hard.txt=file:mine"_s, u"d/same2.txt=file:mine"_s };
    }

    void rarLinksToEarlierEntries()
    {
        QFETCH(QStringList, existing);
        QFETCH(bool, succeeds);
        QFETCH(QStringList, expected);
        const QString archive = sample(u"links.rar"_s);
        for (const QString& name : std::as_const(existing))
            QVERIFY(writeFile(m_out + u'/' + name, "mine"));
        QVERIFY(ends(archive, succeeds));
        const auto tree = snapshot(m_out);
        for (const QString& item : std::as_const(expected))
            QCOMPARE(tree.value(item.section(u'=', 0, 0)), item.section(u'=', 1));
        if (existing.isEmpty())
            QCOMPARE(lstatOf(m_out + u"/d/hard.txt"_s).st_ino, lstatOf(m_out + u"/a.txt"_s).st_ino);
        else if (!succeeds)
            QVERIFY(!tree.contains(u"d/hard.txt"_s));
        QVERIFY(!hasLeftovers(m_out));
    }

    // Split rar, 7z and zip sets come out from any part; a missing part
    // fails the job and leaves nothing, and the 7z and zip jobs name it.
    void splitSets_data()
    {
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("opened");
        QTest::addColumn<QString>("removed");
        QTest::newRow("rar, from the middle") << u"vol.rar"_s << u"vol.part2.rar"_s << QString();
        QTest::newRow("rar, first missing") << u"vol.rar"_s << u"vol.part2.rar"_s << u"vol.part1.rar"_s;
        QTest::newRow("rar, middle missing") << u"vol.rar"_s << u"vol.part1.rar"_s << u"vol.part3.rar"_s;
        QTest::newRow("7z, first part") << u"vol.7z"_s << u"vol.7z.001"_s << QString();
        QTest::newRow("7z, a later part") << u"vol.7z"_s << u"vol.7z.002"_s << QString();
        QTest::newRow("7z, middle missing") << u"vol.7z"_s << u"vol.7z.003"_s << u"vol.7z.002"_s;
        QTest::newRow("7z, last missing") << u"vol.7z"_s << u"vol.7z.001"_s << u"vol.7z.003"_s;
        QTest::newRow("zip, last part") << u"split.zip"_s << u"split.zip"_s << QString();
        QTest::newRow("zip, first part") << u"split.zip"_s << u"split.z01"_s << QString();
        QTest::newRow("zip, first missing") << u"split.zip"_s << u"split.zip"_s << u"split.z01"_s;
        QTest::newRow("zip, middle missing") << u"split.zip"_s << u"split.z01"_s << u"split.z02"_s;
        QTest::newRow("zip, end missing") << u"split.zip"_s << u"split.z02"_s << u"split.zip"_s;
    }

    void splitSets()
    {
        QFETCH(QString, sample);
        QFETCH(QString, opened);
        QFETCH(QString, removed);
        this->sample(sample);
        const bool rar = sample.endsWith(u".rar");
        const QString folder = m_samples->path();
        if (!removed.isEmpty())
            QVERIFY(QFile::remove(folder + u'/' + removed));
        const QString archive = folder + u'/' + opened;
        QVERIFY(extracted(archive));
        QCOMPARE(m_log->succeeded(), removed.isEmpty());
        if (removed.isEmpty() && rar) {
            QCOMPARE(QFileInfo(m_out + u"/big.bin"_s).size(), 70000);
        } else if (removed.isEmpty()) {
            QCOMPARE(snapshot(m_out).value(u"d/small.txt"_s), u"file:small\n"_s);
            QCOMPARE(QFileInfo(m_out + u"/d/big.bin"_s).size(), 250000);
        } else {
            QVERIFY2(snapshot(m_out).isEmpty(), qPrintable(snapshot(m_out).keys().join(u' ')));
        }
        if (removed.isEmpty() || rar)
            return;
        QCOMPARE(m_log->status(), Outcome::statusName(Outcome::Status::MissingPart));
        QVERIFY2(m_log->reason().endsWith(removed), qPrintable(m_log->reason()));
    }

    // Names without the UTF-8 flag: one code page for all of them.
    void legacyCodePages_data()
    {
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("one short GBK name")
            << QByteArray("GB18030") << QStringList { u"报告.docx"_s } << QByteArray("GB18030");
        QTest::newRow("GBK") << QByteArray("GB18030")
                             << QStringList { u"新建文件夹/"_s, u"新建文件夹/说明.txt"_s, u"图片/照片1.jpg"_s }
                             << QByteArray("GB18030");
        QTest::newRow("Big5") << QByteArray("BIG5") << QStringList { u"新增資料夾/"_s, u"新增資料夾/說明.txt"_s }
                              << QByteArray("CP950");
        QTest::newRow("Shift_JIS") << QByteArray("SHIFT_JIS")
                                   << QStringList { u"新しいフォルダー/"_s, u"新しいフォルダー/説明.txt"_s }
                                   << QByteArray("CP932");
        QTest::newRow("CP866") << QByteArray("CP866") << QStringList { u"Документы/"_s, u"Документы/отчёт.txt"_s }
                               << QByteArray("IBM866");
        QTest::newRow("CP437") << QByteArray("CP437") << QStringList { u"Café.txt"_s, u"Über/naïve.txt"_s }
                               << QByteArray("CP437");
        QTest::newRow("UTF-8 without the flag")
            << QByteArray("UTF-8") << QStringList { u"中文名.txt"_s } << QByteArray("UTF-8");
    }
    void legacyCodePages()
    {
        QFETCH(QByteArray, codec);
        QFETCH(QStringList, names);
        QFETCH(QByteArray, expected);
        QList<QByteArray> raw;
        for (const QString& name : names)
            raw.append(encode(name, codec));
        const QByteArray detected = NameDecoder::detect(raw);
        QCOMPARE(detected, expected);
        const NameDecoder decoder(detected);
        for (qsizetype i = 0; i < names.size(); ++i)
            QCOMPARE(decoder.decode(raw.at(i)), names.at(i));
    }
};

ZAVRIN_TEST(ReaderTest)
#include "tst_readers.moc"
