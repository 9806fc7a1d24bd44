// The path-safety helpers on their own, and the legacy name decoder.
#include "engine/safety/EntryNames.h"
#include "engine/safety/EntrySink.h"
#include "engine/safety/SafeDestination.h"
#include "platform/Folders.h"
#include "platform/Logging.h"
#include "tests/support/MidJob.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using Status = Outcome::Status;

namespace {

QStringList split(const QString& path)
{
    return path.split(u'/');
}

} // namespace

class SafeDestinationTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_out;

    Outcome writeFile(SafeDestination& destination, const QString& path, const QByteArray& data)
    {
        PendingFile file;
        const Outcome begun = destination.beginFile(split(path), file);
        if (!begun.ok())
            return begun;
        file.write(data.constData(), data.size());
        return destination.commitFile(file, {});
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_out = m_dir->filePath(u"out"_s);
        QDir().mkpath(m_out);
    }

    void entryNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("components"); // empty list with "refused": no value
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << u"a/b.txt"_s << QStringList { u"a"_s, u"b.txt"_s } << false;
        QTest::newRow("dots and slashes") << u"./a//./b/"_s << QStringList { u"a"_s, u"b"_s } << false;
        QTest::newRow("dotted names") << u"..a/b.."_s << QStringList { u"..a"_s, u"b.."_s } << false;
        QTest::newRow("only a dot") << u"./"_s << QStringList() << false;
        QTest::newRow("parent") << u"../a"_s << QStringList() << true;
        QTest::newRow("parent inside") << u"a/../../b"_s << QStringList() << true;
        QTest::newRow("parent at the end") << u"a/.."_s << QStringList() << true;
        QTest::newRow("absolute") << u"/etc/passwd"_s << QStringList() << true;
        QTest::newRow("NUL after a parent") << QStringView(u"..\0x/evil", 9).toString() << QStringList() << true;
    }
    void entryNames()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, components);
        QFETCH(bool, refused);
        const std::optional<QStringList> result = EntryNames::split(name);
        QCOMPARE(!result.has_value(), refused);
        if (result)
            QCOMPARE(*result, components);
    }

    void linkTargets_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("inside");
        QTest::newRow("sibling") << u"a"_s << u"b"_s << true;
        QTest::newRow("down") << u"a"_s << u"d/e/f"_s << true;
        QTest::newRow("up from a folder") << u"d/a"_s << u"../b"_s << true;
        QTest::newRow("the destination itself") << u"a"_s << u"."_s << true;
        QTest::newRow("parent of the destination") << u"a"_s << u".."_s << false;
        QTest::newRow("up too far") << u"d/a"_s << u"../../b"_s << false;
        QTest::newRow("absolute") << u"a"_s << u"/tmp"_s << false;
        QTest::newRow("up through a name") << u"a"_s << u"d/../b"_s << false;
        QTest::newRow("empty") << u"a"_s << QString() << false;
        QTest::newRow("NUL after a parent") << u"a"_s << QStringView(u"..\0x", 4).toString() << false;
    }
    void linkTargets()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(bool, inside);
        QCOMPARE(EntryNames::linkStaysInside(split(link), target.toUtf8()), inside);
    }

    // A file being written has no name in its folder until it is complete,
    // not even a hidden one where the file system allows; one given up
    // leaves nothing.
    void aFileAppearsOnlyWhenComplete_data()
    {
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("without a name") << true;
        QTest::newRow("under a temporary name") << false;
    }
    void aFileAppearsOnlyWhenComplete()
    {
        QFETCH(bool, unnamed);
        SafeDestination::setUnnamedFilesForTesting(unnamed);
        const auto restore = qScopeGuard([] { SafeDestination::setUnnamedFilesForTesting(true); });
        SafeDestination destination(m_out);
        PendingFile done;
        PendingFile dropped;
        QCOMPARE(destination.beginFile(split(u"d/done.txt"_s), done).status, Status::Done);
        QCOMPARE(destination.beginFile(split(u"d/dropped.txt"_s), dropped).status, Status::Done);
        QVERIFY(done.write("complete", 8) && dropped.write("part", 4));
        const auto inFolder = [this] { return MidJob::leftIn(m_out + u"/d"_s, u"*"_s); };
        if (unnamed)
            QCOMPARE(inFolder(), QStringList());
        else
            QCOMPARE(inFolder().filter(u".txt"_s), QStringList());
        destination.discardFile(dropped);
        QCOMPARE(destination.commitFile(done, {}).status, Status::Done);
        QCOMPARE(inFolder(), QStringList { u"done.txt"_s });
        QCOMPARE(ZipInspection::readFile(m_out + u"/d/done.txt"_s), QByteArray("complete"));
    }

    // Someone takes the name while the file is written: theirs stays.
    void aNameTakenMeanwhileIsKept()
    {
        SafeDestination destination(m_out);
        PendingFile late;
        QCOMPARE(destination.beginFile(split(u"d/late.txt"_s), late).status, Status::Done);
        late.write("archive", 7);
        QVERIFY(ZipInspection::writeFile(m_out + u"/d/late.txt"_s, "theirs"));
        QCOMPARE(destination.commitFile(late, {}).status, Status::Kept);
        QCOMPARE(ZipInspection::readFile(m_out + u"/d/late.txt"_s), QByteArray("theirs"));
        QCOMPARE(MidJob::leftIn(m_out + u"/d"_s, u"*"_s), QStringList { u"late.txt"_s });
    }

    // A folder's mode and time come last, so a read-only one can still be
    // filled; the formats' own tests check the modes and times of files.
    void readOnlyFoldersAreFilled()
    {
        SafeDestination destination(m_out);
        const timespec when { 1000000000, 0 };
        QCOMPARE(destination.makeDirectory(split(u"ro"_s), { 0555, when }).status, Status::Done);
        QCOMPARE(writeFile(destination, u"ro/f"_s, "x").status, Status::Done);
        QVERIFY(destination.finish());
        QCOMPARE(ZipInspection::lstatOf(m_out + u"/ro"_s).st_mode & 07777, 0555u);
        QCOMPARE(ZipInspection::lstatOf(m_out + u"/ro"_s).st_mtime, when.tv_sec);
        QCOMPARE(ZipInspection::readFile(m_out + u"/ro/f"_s), QByteArray("x"));
        ::chmod(QFile::encodeName(m_out + u"/ro"_s).constData(), 0755);
    }

    // Removing a tree takes shut folders with it and nothing a link points to.
    void removeTreeNeverLeavesTheTree()
    {
        const QString outside = m_dir->filePath(u"outside"_s);
        QVERIFY(ZipInspection::writeFile(outside + u"/keep"_s, {}));
        const QString tree = m_out + u"/tree"_s;
        QVERIFY(QDir().mkpath(tree + u"/shut/deeper"_s));
        QVERIFY(QFile::link(outside, tree + u"/shut/deeper/folder-link"_s));
        QVERIFY(QFile::link(outside + u"/keep"_s, tree + u"/file-link"_s));
        QCOMPARE(::chmod(QFile::encodeName(tree + u"/shut"_s).constData(), 0500), 0);

        QVERIFY(Folders::removeTree(AT_FDCWD, QFile::encodeName(tree).constData()));
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(QFileInfo::exists(outside + u"/keep"_s));
        QVERIFY(!Folders::removeTree(AT_FDCWD, QFile::encodeName(tree).constData()));
        QCOMPARE(errno, ENOENT);
    }

    // A wrong password removes what the job made, unless an encrypted entry
    // already decoded with it: then the refusal is damage and what was
    // extracted stays.
    void aConfirmedPasswordKeepsWhatWasMade_data()
    {
        QTest::addColumn<bool>("confirmed");
        QTest::newRow("never confirmed") << false;
        QTest::newRow("confirmed") << true;
    }
    void aConfirmedPasswordKeepsWhatWasMade()
    {
        QFETCH(bool, confirmed);
        EntrySink sink(m_out, lcEngineZip);
        QVERIFY(sink.admit(u"d/made.txt"_s) && sink.open());
        PendingFile file;
        QVERIFY(sink.beginFile(split(u"d/made.txt"_s), file, {}) && sink.write(file, "x", 1));
        QVERIFY(sink.commitFile(file, {}));
        if (confirmed)
            sink.passwordConfirmed();
        sink.fail(u"later.txt: wrong password"_s, Status::WrongPassword);
        QCOMPARE(sink.finish().status, confirmed ? Status::Damaged : Status::WrongPassword);
        QCOMPARE(QFileInfo::exists(m_out + u"/d/made.txt"_s), confirmed);
    }

    // However deep, with few descriptors to spare.
    void removeTreeTakesAnyDepth()
    {
        const QString tree = m_out + u"/deep"_s;
        QVERIFY(QDir().mkpath(tree));
        int fd = ::open(QFile::encodeName(tree).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int level = 0; level < 300 && fd >= 0; ++level) {
            const bool made = ::mkdirat(fd, "d", 0755) == 0
                && (level % 7 != 0 || ::close(::openat(fd, "f", O_CREAT | O_WRONLY, 0644)) == 0);
            const int next = made ? ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
            ::close(fd);
            fd = next;
        }
        QVERIFY(fd >= 0);
        ::close(fd);
        rlimit limit {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        const rlimit few { 128, limit.rlim_max };
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &few), 0);
        const bool removed = Folders::removeTree(AT_FDCWD, QFile::encodeName(tree).constData());
        ::setrlimit(RLIMIT_NOFILE, &limit);
        QVERIFY(removed);
        QVERIFY(!QFileInfo::exists(tree));
    }

    void overlongNamesFailClearly()
    {
        SafeDestination destination(m_out);
        const QString longName(300, u'n');
        const Outcome refused = writeFile(destination, longName, "x");
        QCOMPARE(refused.status, Status::Failed);
        QVERIFY(refused.message.contains(u"too long"_s));
        QCOMPARE(writeFile(destination, u"fine"_s, "x").status, Status::Done);
    }
};

ZAVRIN_TEST(SafeDestinationTest)
#include "tst_safedestination.moc"
