// The tar family read by TarReader into an EntrySink: archives made at run
// time by GNU tar and the compressors, hostile ones by
// tests/fixtures/craft-tar.py.
#include "engine/StopToken.h"
#include "engine/extract/TarReader.h"
#include "engine/safety/EntrySink.h"
#include "platform/Folders.h"
#include "tests/engine/ArchiveTesting.h"
#include "tests/support/MidJob.h"
#include "tests/support/TestMain.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Status = Outcome::Status;
using namespace ArchiveTesting;

namespace {

// 2001-02-03 04:05:06.123456789 and 2002-03-04 05:06:07.5 UTC.
constexpr timespec kFileTime { 981173106, 123456789 };
constexpr timespec kFolderTime { 1015218367, 500000000 };
constexpr qint64 kSparseSize = 8 << 20;

bool craft(const QString& folder, const QString& which, const QString& out, const QString& argument = {})
{
    return run(folder, u"python3"_s, { QStringLiteral(ZAVRIN_FIXTURES_DIR "/craft-tar.py"), which, out, argument });
}

bool writeRaw(const QByteArray& path, const QByteArray& data, mode_t mode = 0644)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, mode);
    const bool written = fd >= 0 && ::write(fd, data.constData(), data.size()) == data.size();
    return fd >= 0 && ::close(fd) == 0 && written && ::chmod(path.constData(), mode) == 0;
}

struct stat lstatOf(const QByteArray& path)
{
    struct stat st { };
    ::lstat(path.constData(), &st);
    return st;
}

bool exists(const QByteArray& path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

bool hasLeftovers(const QString& root)
{
    const auto items = tree(root);
    return std::any_of(
        items.keyBegin(), items.keyEnd(), [](const QByteArray& key) { return key.contains(".zavrin-"); });
}

// The round trip's tree: names in UTF-8, Latin-1 and with a newline, a hard
// link, links, a sparse file ending in a hole, set-uid and private modes.
bool makeCorpus(const QByteArray& src)
{
    const auto at = [&](const char* name) { return QByteArray(src + name); };
    bool ok = ::mkdir(src.constData(), 0755) == 0 && ::mkdir(at("/dir").constData(), 0755) == 0
        && ::mkdir(at("/empty-dir").constData(), 0700) == 0;
    ok = ok && writeRaw(at("/hello.txt"), "hello, world\n") && writeRaw(at("/dir/nested.txt"), "nested\n", 0600)
        && writeRaw(at("/empty.txt"), {}) && writeRaw(at("/tool.sh"), "#!/bin/sh\n", 0755)
        && writeRaw(at("/setuid.bin"), "not a program\n", 04755) && writeRaw(at("/中文名.txt"), "unicode\n")
        && writeRaw(at("/latin\xe9.txt"), "latin-1\n") && writeRaw(at("/new\nline.txt"), "newline\n")
        && writeRaw(at("/sparse.bin"), {});
    ok = ok && ::link(at("/hello.txt").constData(), at("/dir/hard").constData()) == 0
        && ::symlink("hello.txt", at("/link").constData()) == 0
        && ::symlink("../tool.sh", at("/dir/up-link").constData()) == 0;
    const int sparse = ::open(at("/sparse.bin").constData(), O_WRONLY);
    ok = ok && sparse >= 0 && ::pwrite(sparse, "data", 4, 1 << 20) == 4 && ::pwrite(sparse, "more", 4, 5 << 20) == 4
        && ::ftruncate(sparse, kSparseSize) == 0 && ::close(sparse) == 0;
    for (const char* name : { "/hello.txt", "/dir/nested.txt", "/empty.txt", "/tool.sh", "/setuid.bin", "/中文名.txt",
             "/latin\xe9.txt", "/new\nline.txt", "/sparse.bin", "/link", "/dir/up-link" })
        setTimes(at(name), kFileTime);
    setTimes(at("/dir"), kFolderTime);
    setTimes(at("/empty-dir"), kFolderTime);
    return ok;
}

} // namespace

class TarTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_root;
    QString m_out;

    QByteArray out(const QByteArray& relative = {}) const { return QFile::encodeName(m_out) + relative; }
    QString path(const QString& name) const { return m_root + u'/' + name; }

    Outcome extract(const QString& archive, const ExtractRequest& request = {})
    {
        TarReader reader(archive);
        reader.open(std::nullopt);
        EntrySink sink(m_out, lcEngineTar);
        return reader.extract(sink, request);
    }
    // A tar of `items` made by GNU tar in `folder`, with `options`.
    QString pack(const QString& name, const QStringList& options, const QString& folder, const QStringList& items)
    {
        const QString archive = path(name);
        return run(folder, u"tar"_s, options + QStringList { u"-cf"_s, archive } + items) ? archive : QString();
    }
    QString crafted(const QString& which, const QString& argument = {})
    {
        const QString archive = path(which + u".tar"_s);
        return craft(m_root, which, archive, argument) ? archive : QString();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_root = m_dir->path();
        m_out = path(u"out"_s);
        QDir().mkpath(m_out);
    }
    void cleanup()
    {
        ::umount2(QFile::encodeName(m_out).constData(), MNT_DETACH);
        StopToken::resumeForTesting();
        // Names that are not UTF-8 are beyond QDir's removal.
        Folders::removeTree(AT_FDCWD, QFile::encodeName(m_root).constData());
        m_dir.reset();
    }

    // The corpus through every format: names as bytes, links, hard links,
    // modes without set-uid, times (to the nanosecond where the format keeps
    // them) and holes.
    void corpusComesBackAsPacked_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("nanoseconds");
        const QString gnu = u"--format=gnu"_s, posix = u"--format=posix"_s;
        QTest::newRow("tar gnu") << u".tar"_s << QStringList { gnu } << false;
        QTest::newRow("tar posix") << u".tar"_s << QStringList { posix } << true;
        QTest::newRow("tar.gz") << u".tar.gz"_s << QStringList { posix, u"-z"_s } << true;
        QTest::newRow("tgz") << u".tgz"_s << QStringList { gnu, u"-z"_s } << false;
        QTest::newRow("tar.bz2") << u".tar.bz2"_s << QStringList { posix, u"-j"_s } << true;
        QTest::newRow("tbz2") << u".tbz2"_s << QStringList { gnu, u"-j"_s } << false;
        QTest::newRow("tar.xz") << u".tar.xz"_s << QStringList { posix, u"-J"_s } << true;
        QTest::newRow("txz") << u".txz"_s << QStringList { gnu, u"-J"_s } << false;
        QTest::newRow("tar.zst") << u".tar.zst"_s << QStringList { posix, u"--zstd"_s } << true;
        QTest::newRow("tzst") << u".tzst"_s << QStringList { gnu, u"--zstd"_s } << false;
        QTest::newRow("tar.lz4") << u".tar.lz4"_s << QStringList { posix, u"-Ilz4"_s } << true;
    }
    void corpusComesBackAsPacked()
    {
        QFETCH(QString, suffix);
        QFETCH(QStringList, options);
        QFETCH(bool, nanoseconds);
        const QString src = path(u"src"_s);
        QVERIFY(makeCorpus(QFile::encodeName(src)));
        const QString archive = pack(u"corpus"_s + suffix, options + QStringList { u"--sparse"_s }, src, { u"."_s });
        QVERIFY(!archive.isEmpty());
        QCOMPARE(extract(archive).status, Status::Done);

        const Detail detail = nanoseconds ? Detail::Full : Detail::Seconds;
        QMap<QByteArray, QString> expected = tree(src, detail);
        expected[QByteArray("/setuid.bin")].replace(u"mode 4755"_s, u"mode 755"_s);
        QCOMPARE(tree(m_out, detail), expected);
        QCOMPARE(lstatOf(out("/hello.txt")).st_ino, lstatOf(out("/dir/hard")).st_ino);
        // Kept sparse where the source file system keeps holes.
        if (lstatOf(QFile::encodeName(src) + "/sparse.bin").st_blocks * 512 < kSparseSize / 2) {
            QCOMPARE(lstatOf(out("/sparse.bin")).st_size, kSparseSize);
            QVERIFY(lstatOf(out("/sparse.bin")).st_blocks * 512 < kSparseSize / 2);
        }
    }

    // One file out, named after the archive without its suffix; the time
    // from a gzip header, else the compressed file's.
    void singleFilesComeOutUnderTheArchivesName_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<bool>("timeFromHeader");
        QTest::newRow("gz") << u"gzip -k notes.txt"_s << u"notes.txt.gz"_s << true;
        QTest::newRow("gz without a name or time") << u"gzip -kn notes.txt"_s << u"notes.txt.gz"_s << false;
        QTest::newRow("bz2") << u"bzip2 -k notes.txt"_s << u"notes.txt.bz2"_s << false;
        QTest::newRow("xz") << u"xz -k notes.txt"_s << u"notes.txt.xz"_s << false;
        QTest::newRow("zst") << u"zstd -qk notes.txt"_s << u"notes.txt.zst"_s << false;
        QTest::newRow("GZ in capitals") << u"gzip -c notes.txt >NOTES.TXT.GZ"_s << u"NOTES.TXT.GZ"_s << true;
    }
    void singleFilesComeOutUnderTheArchivesName()
    {
        QFETCH(QString, command);
        QFETCH(QString, archive);
        QFETCH(bool, timeFromHeader);
        QByteArray content;
        for (int i = 0; i < 50000; ++i)
            content += QByteArray::number(i) + " notes\n";
        QVERIFY(writeRaw(QFile::encodeName(path(u"notes.txt"_s)), content));
        setTimes(QFile::encodeName(path(u"notes.txt"_s)), { kFileTime.tv_sec, 0 });
        QVERIFY(shell(m_root, command));
        setTimes(QFile::encodeName(path(archive)), { kFolderTime.tv_sec, 0 });

        TarReader reader(path(archive));
        QVERIFY(reader.open(std::nullopt).ok());
        QStringList names;
        reader.list([&](const ArchiveEntry& entry) {
            names.append(entry.path);
            return true;
        });
        const QString name = archive.left(archive.lastIndexOf(u'.'));
        QCOMPARE(names, QStringList { name });
        EntrySink sink(m_out, lcEngineTar);
        QCOMPARE(reader.extract(sink, {}).status, Status::Done);
        QFile file(m_out + u'/' + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(lstatOf(out('/' + name.toUtf8())).st_mtime, timeFromHeader ? kFileTime.tv_sec : kFolderTime.tv_sec);
    }

    // An unsafe name anywhere refuses the whole archive: what came before
    // it is taken back, and nothing lands outside.
    void unsafeNamesRefuseTheArchive_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("gzip");
        QTest::newRow("../ after good entries") << u"unsafe"_s << u"../evil.txt"_s << false;
        QTest::newRow("../ in a .tar.gz") << u"unsafe"_s << u"../evil.txt"_s << true;
        QTest::newRow("climbing from a folder") << u"unsafe"_s << u"dir/../../evil.txt"_s << false;
        QTest::newRow("absolute") << u"unsafe"_s << u"ABSOLUTE"_s << false;
        QTest::newRow("../ first") << u"unsafe-first"_s << u"../evil.txt"_s << false;
    }
    void unsafeNamesRefuseTheArchive()
    {
        QFETCH(QString, which);
        QFETCH(QString, name);
        QFETCH(bool, gzip);
        name.replace(u"ABSOLUTE"_s, path(u"evil.txt"_s));
        QString archive = crafted(which, name);
        QVERIFY(!archive.isEmpty());
        if (gzip) {
            QVERIFY(run(m_root, u"gzip"_s, { archive }));
            archive += u".gz"_s;
        }
        QVERIFY(QDir(m_out).removeRecursively());
        const Outcome result = extract(archive);
        QCOMPARE(result.status, Status::Unsafe);
        QVERIFY2(result.message.contains(u"unsafe"_s), qPrintable(result.message));
        QVERIFY(!QFileInfo::exists(path(u"evil.txt"_s)));
        // What was placed before goes, and the destination the job made too.
        QVERIFY(!QFileInfo::exists(m_out));
    }

    // A link that would leave is not made, and nothing is written through
    // any link.
    void nothingIsWrittenThroughLinks()
    {
        const QString outside = path(u"outside"_s);
        QVERIFY(QDir().mkpath(outside));
        const QString archive = crafted(u"through-links"_s, outside);
        QCOMPARE(extract(archive).status, Status::Done);
        QVERIFY(QDir(outside).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QVERIFY(!exists(QFile::encodeName(path(u"evil.txt"_s))));
        QVERIFY(!S_ISLNK(lstatOf(out("/esc")).st_mode));
        QVERIFY(!S_ISLNK(lstatOf(out("/up")).st_mode));
        QVERIFY(S_ISLNK(lstatOf(out("/in")).st_mode));
        QVERIFY(!exists(out("/x.txt")));
    }

    // Hard links name files this job placed, never anything else; a refused
    // one is logged and the job goes on.
    void hardLinksOnlyToFilesOfTheJob()
    {
        QVERIFY(writeRaw(out("/pre.txt"), "there before\n"));
        const nlink_t passwordLinks = lstatOf("/etc/passwd").st_nlink;
        const QString archive = crafted(u"hard-links"_s);
        for (const char* refused : { "pw -> /etc/passwd", "pw2 -> ../", "pre2 -> pre.txt" })
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(u"hard link to a file this job did not place: "_s
                    + QRegularExpression::escape(QString::fromUtf8(refused))));
        QCOMPARE(extract(archive).status, Status::Done);
        QCOMPARE(lstatOf(out("/ok2")).st_ino, lstatOf(out("/ok.txt")).st_ino);
        QCOMPARE(lstatOf(out("/dir/ok3")).st_ino, lstatOf(out("/ok.txt")).st_ino);
        for (const char* name : { "/pw", "/pw2", "/pre2" })
            QVERIFY2(!exists(out(name)), name);
        QCOMPARE(lstatOf("/etc/passwd").st_nlink, passwordLinks);
        QCOMPARE(lstatOf(out("/pre.txt")).st_nlink, nlink_t(1));
        QVERIFY(exists(out("/after.txt")));
    }

    void devicesAndFifosAreSkipped()
    {
        const QString archive = crafted(u"specials"_s);
        for (const char* name : { "null", "disk", "fifo" })
            QTest::ignoreMessage(
                QtWarningMsg, QRegularExpression(u"a device, FIFO or socket: "_s + QLatin1String(name)));
        QCOMPARE(extract(archive).status, Status::Done);
        QCOMPARE(tree(m_out).keys(), QList<QByteArray> { "/ok.txt" });
    }

    // Names are bytes: a newline, Latin-1 and GBK come out unchanged, link
    // targets too.
    void namesKeepTheirBytes()
    {
        const QString archive = crafted(u"names"_s);
        QCOMPARE(extract(archive).status, Status::Done);
        QCOMPARE(tree(m_out).keys(),
            (QList<QByteArray> {
                "/latin\xe9", "/latin\xe9/caf\xe9.txt", "/new\nline.txt", "/to-latin", "/\xd6\xd0\xce\xc4.txt" }));
        QByteArray target(64, '\0');
        target.resize(::readlink(out("/to-latin").constData(), target.data(), target.size()));
        QCOMPARE(target, QByteArray("latin\xe9/caf\xe9.txt"));
    }

    void setIdAndStickyBitsAreDropped()
    {
        QCOMPARE(extract(crafted(u"modes"_s)).status, Status::Done);
        QCOMPARE(lstatOf(out("/suid")).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(out("/sgid")).st_mode & 07777, 0755u);
        QCOMPARE(lstatOf(out("/sticky")).st_mode & 07777, 0777u);
        QCOMPARE(lstatOf(out("/sgid-dir")).st_mode & 07777, 0775u);
    }

    // Cut short or broken: Damaged, complete entries stay, the one that
    // broke off leaves nothing. open() reads no further than the first
    // header, so it does not see the cut.
    void damagedArchivesFail_data()
    {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("tar") << u"cut.tar"_s << QStringList();
        QTest::newRow("tar.gz") << u"cut.tar.gz"_s << QStringList { u"-z"_s };
        QTest::newRow("tar.zst") << u"cut.tar.zst"_s << QStringList { u"--zstd"_s };
        QTest::newRow("gz") << u"cut.gz"_s << QStringList();
    }
    void damagedArchivesFail()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, options);
        const QString src = path(u"src"_s);
        QVERIFY(QDir().mkpath(src) && shell(src, u"echo first >first.txt; head -c 3000000 /dev/urandom >big.bin"_s));
        if (archive.contains(u".tar"))
            QVERIFY(!pack(archive, options, src, { u"first.txt"_s, u"big.bin"_s }).isEmpty());
        else
            QVERIFY(shell(m_root, u"gzip -c src/big.bin >"_s + archive));
        QVERIFY(QFile::resize(path(archive), QFileInfo(path(archive)).size() / 2));

        TarReader reader(path(archive));
        QVERIFY(reader.open(std::nullopt).ok());
        EntrySink sink(m_out, lcEngineTar);
        QCOMPARE(reader.extract(sink, {}).status, Status::Damaged);
        const QList<QByteArray> left = tree(m_out).keys();
        QCOMPARE(left,
            archive.endsWith(u".gz") && !archive.contains(u".tar") ? QList<QByteArray>()
                                                                   : QList<QByteArray> { "/first.txt" });
        QVERIFY(!hasLeftovers(m_out));
    }

    void brokenHeaderFails()
    {
        QCOMPARE(extract(crafted(u"bad-checksum"_s)).status, Status::Damaged);
        QCOMPARE(tree(m_out).keys(), QList<QByteArray> { "/ok.txt" });
    }

    // The compression is the one the name says, and a tar must be inside.
    void otherContentIsNotAnArchive_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("archive");
        QTest::newRow("plain tar named .tar.gz") << u"tar -cf x.tar.gz t.txt"_s << u"x.tar.gz"_s;
        QTest::newRow("xz named .tar.gz") << u"tar -cJf x.tar.gz t.txt"_s << u"x.tar.gz"_s;
        QTest::newRow("gzip without a tar") << u"gzip -c t.txt >x.tar.gz"_s << u"x.tar.gz"_s;
        QTest::newRow("gzip named .tar.zst") << u"tar -czf x.tar.zst t.txt"_s << u"x.tar.zst"_s;
        QTest::newRow("text named .tar") << u"cp t.txt x.tar"_s << u"x.tar"_s;
        QTest::newRow("empty .tar") << u": >x.tar"_s << u"x.tar"_s;
        QTest::newRow("text named .gz") << u"cp t.txt x.gz"_s << u"x.gz"_s;
        QTest::newRow("zstd named .xz") << u"zstd -qc t.txt >x.xz"_s << u"x.xz"_s;
    }
    void otherContentIsNotAnArchive()
    {
        QFETCH(QString, command);
        QFETCH(QString, archive);
        QVERIFY(shell(m_root, u"seq 1 2000 >t.txt; "_s + command));
        QVERIFY(QDir(m_out).removeRecursively());
        TarReader reader(path(archive));
        QCOMPARE(reader.open(std::nullopt).status, Status::NotAnArchive);
        EntrySink sink(m_out, lcEngineTar);
        QCOMPARE(reader.extract(sink, {}).status, Status::NotAnArchive);
        QVERIFY(!QFileInfo::exists(m_out));
    }

    // Each entry's kind and size; a size field holding a negative number
    // (an old GNU sparse header's real size, in base-256) is no size.
    void listingGivesKindsAndSizes_data()
    {
        using Kind = ArchiveEntry::Kind;
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("kinds") << u"kinds"_s
                               << QStringList { u"dir/ %1 0"_s.arg(int(Kind::Folder)),
                                      u"dir/file.txt %1 5"_s.arg(int(Kind::File)), u"link %1 0"_s.arg(int(Kind::Link)),
                                      u"hard %1 0"_s.arg(int(Kind::HardLink)), u"fifo %1 0"_s.arg(int(Kind::Special)) };
        QTest::newRow("negative size") << u"negative-size"_s
                                       << QStringList { u"neg.txt %1 -1"_s.arg(int(Kind::File)),
                                              u"ok.txt %1 3"_s.arg(int(Kind::File)) };
    }
    void listingGivesKindsAndSizes()
    {
        QFETCH(QString, archive);
        QFETCH(QStringList, listed);
        TarReader reader(crafted(archive));
        QVERIFY(reader.open(std::nullopt).ok());
        QStringList found;
        QCOMPARE(reader
                     .list([&](const ArchiveEntry& entry) {
                         found.append(u"%1 %2 %3"_s.arg(entry.path).arg(int(entry.kind)).arg(entry.size));
                         return true;
                     })
                     .status,
            Status::Done);
        QCOMPARE(found, listed);
    }

    // Only the chosen entries; a hard link to one left out is not made.
    void selectionPicksEntries()
    {
        ExtractRequest request;
        request.selection = std::vector<bool> { true, false, true, true, false };
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"this job did not place: hard"_s));
        QCOMPARE(extract(crafted(u"kinds"_s), request).status, Status::Done);
        QCOMPARE(tree(m_out).keys(), (QList<QByteArray> { "/dir", "/link" }));
    }

    // A job that turns back once the reader is open writes nothing, not even
    // the destination.
    void refusedStartLeavesNothing()
    {
        ExtractRequest request;
        request.listed = [] { return false; };
        QVERIFY(QDir(m_out).removeRecursively());
        QCOMPARE(extract(crafted(u"kinds"_s), request).status, Status::Cancelled);
        QVERIFY(!QFileInfo::exists(m_out));
    }

    // Ctrl-C in the middle of a long entry: complete files stay, the one
    // being written goes.
    void stopEndsTheJob()
    {
        const QString src = path(u"src"_s);
        QVERIFY(QDir().mkpath(src) && MidJob::writeItems(src));
        const QString archive = pack(u"mid.tar.zst"_s, { u"--zstd"_s }, src, MidJob::kItems);
        // Once the small file is complete and the big one is being written.
        std::thread stopper([this] {
            for (int i = 0; i < 20000 && !(exists(out("/a-small.txt")) && MidJob::writesIn(::getpid(), m_out)); ++i)
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            StopToken::stopAll();
        });
        const Outcome result = extract(archive);
        stopper.join();
        QCOMPARE(result.status, Status::Cancelled);
        QCOMPARE(tree(m_out).keys(), QList<QByteArray> { "/a-small.txt" });
    }

    // A full disk ends the job as NoSpace without a partial file: a gzip
    // bomb, and a tar of one huge file. The small file after it would fit
    // once the partial one is gone, yet the job has ended.
    void fullDiskLeavesNoPartialFile_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("archive");
        QTest::newRow("gz bomb") << u"head -c 64M /dev/zero | gzip -c >zeros.gz"_s << u"zeros.gz"_s;
        QTest::newRow("tar.gz bomb")
            << u"truncate -s 64M zeros && echo after >z.txt && tar -czf zeros.tar.gz zeros z.txt"_s
            << u"zeros.tar.gz"_s;
    }
    void fullDiskLeavesNoPartialFile()
    {
        QFETCH(QString, command);
        QFETCH(QString, archive);
        QVERIFY(shell(m_root, command));
        if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(m_out).constData(), "tmpfs", 0, "size=8m") != 0)
            QSKIP("cannot mount a small file system here");
        QCOMPARE(extract(path(archive)).status, Status::NoSpace);
        QCOMPARE(tree(m_out), (QMap<QByteArray, QString>()));
    }
};

ZAVRIN_TEST(TarTest)
#include "tst_tar.moc"
