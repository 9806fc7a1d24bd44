// The path-safety helpers on their own, and the legacy name decoder.
#include "engine/Folders.h"
#include "engine/extract/NameDecoder.h"
#include "engine/safety/SafeDestination.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

using Status = Outcome::Status;

namespace {

QStringList split(const QString& path)
{
    return path.split(u'/');
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

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

QStringList hiddenTemporaries(const QString& folder)
{
    return QDir(folder).entryList({ QStringLiteral(".zavrin-*") }, QDir::AllEntries | QDir::Hidden | QDir::System);
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
        m_out = m_dir->filePath(QStringLiteral("out"));
        QDir().mkpath(m_out);
    }

    void entryNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("components"); // empty list with "refused": no value
        QTest::addColumn<bool>("refused");
        QTest::newRow("plain") << QStringLiteral("a/b.txt")
                               << QStringList { QStringLiteral("a"), QStringLiteral("b.txt") } << false;
        QTest::newRow("dots and slashes")
            << QStringLiteral("./a//./b/") << QStringList { QStringLiteral("a"), QStringLiteral("b") } << false;
        QTest::newRow("dotted names") << QStringLiteral("..a/b..")
                                      << QStringList { QStringLiteral("..a"), QStringLiteral("b..") } << false;
        QTest::newRow("only a dot") << QStringLiteral("./") << QStringList() << false;
        QTest::newRow("parent") << QStringLiteral("../a") << QStringList() << true;
        QTest::newRow("parent inside") << QStringLiteral("a/../../b") << QStringList() << true;
        QTest::newRow("parent at the end") << QStringLiteral("a/..") << QStringList() << true;
        QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << QStringList() << true;
        QTest::newRow("NUL after a parent") << QStringView(u"..\0x/evil", 9).toString() << QStringList() << true;
    }
    void entryNames()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, components);
        QFETCH(bool, refused);
        const std::optional<QStringList> result = SafeDestination::splitEntryName(name);
        QCOMPARE(!result.has_value(), refused);
        if (result)
            QCOMPARE(*result, components);
    }

    void linkTargets_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("inside");
        QTest::newRow("sibling") << QStringLiteral("a") << QStringLiteral("b") << true;
        QTest::newRow("down") << QStringLiteral("a") << QStringLiteral("d/e/f") << true;
        QTest::newRow("up from a folder") << QStringLiteral("d/a") << QStringLiteral("../b") << true;
        QTest::newRow("the destination itself") << QStringLiteral("a") << QStringLiteral(".") << true;
        QTest::newRow("parent of the destination") << QStringLiteral("a") << QStringLiteral("..") << false;
        QTest::newRow("up too far") << QStringLiteral("d/a") << QStringLiteral("../../b") << false;
        QTest::newRow("absolute") << QStringLiteral("a") << QStringLiteral("/tmp") << false;
        QTest::newRow("up through a name") << QStringLiteral("a") << QStringLiteral("d/../b") << false;
        QTest::newRow("empty") << QStringLiteral("a") << QString() << false;
        QTest::newRow("NUL after a parent") << QStringLiteral("a") << QStringView(u"..\0x", 4).toString() << false;
    }
    void linkTargets()
    {
        QFETCH(QString, link);
        QFETCH(QString, target);
        QFETCH(bool, inside);
        QCOMPARE(SafeDestination::linkStaysInside(split(link), target.toUtf8()), inside);
    }

    void nothingIsWrittenThroughLinks()
    {
        const QString outside = m_dir->filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkdir(outside));
        QVERIFY(QFile::link(outside, m_out + QStringLiteral("/escape")));
        QVERIFY(QFile::link(QStringLiteral("real"), m_out + QStringLiteral("/inner")));
        QVERIFY(QDir().mkdir(m_out + QStringLiteral("/real")));

        SafeDestination destination(m_out);
        QCOMPARE(writeFile(destination, QStringLiteral("escape/evil.txt"), "evil").status, Status::Blocked);
        QCOMPARE(writeFile(destination, QStringLiteral("inner/x.txt"), "x").status, Status::Blocked);
        QCOMPARE(destination.makeDirectory(split(QStringLiteral("escape/sub")), {}).status, Status::Blocked);
        QCOMPARE(destination.makeSymlink(split(QStringLiteral("escape/l")), "a", {}).status, Status::Blocked);
        QVERIFY(QDir(outside).isEmpty());
        QVERIFY(QDir(m_out + QStringLiteral("/real")).isEmpty());
    }

    void aFileIsNamedOnlyWhenComplete()
    {
        SafeDestination destination(m_out);
        PendingFile file;
        QCOMPARE(destination.beginFile(split(QStringLiteral("d/big.bin")), file).status, Status::Done);
        QVERIFY(file.write("partial", 7));
        QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/d/big.bin")));
        QCOMPARE(hiddenTemporaries(m_out + QStringLiteral("/d")).size(), 1);
        destination.discardFile(file);
        QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/d/big.bin")));
        QVERIFY(hiddenTemporaries(m_out + QStringLiteral("/d")).isEmpty());

        // Someone takes the name while the file is written: theirs stays.
        PendingFile late;
        QCOMPARE(destination.beginFile(split(QStringLiteral("d/late.txt")), late).status, Status::Done);
        late.write("archive", 7);
        QFile theirs(m_out + QStringLiteral("/d/late.txt"));
        QVERIFY(theirs.open(QIODevice::WriteOnly));
        theirs.write("theirs");
        theirs.close();
        QCOMPARE(destination.commitFile(late, {}).status, Status::Kept);
        QCOMPARE(contentOf(m_out + QStringLiteral("/d/late.txt")), QByteArray("theirs"));
        QVERIFY(hiddenTemporaries(m_out + QStringLiteral("/d")).isEmpty());
    }

    void metadataIsApplied()
    {
        SafeDestination destination(m_out);
        const timespec when { 1000000000, 0 };
        QCOMPARE(destination.makeDirectory(split(QStringLiteral("ro")), { 0555, when }).status, Status::Done);
        // The folder's mode and time come last, so it can still be filled.
        PendingFile file;
        QCOMPARE(destination.beginFile(split(QStringLiteral("ro/f")), file).status, Status::Done);
        file.write("x", 1);
        QCOMPARE(destination.commitFile(file, { 04755, when }).status, Status::Done);
        QVERIFY(destination.finish());
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(m_out + QStringLiteral("/ro")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0555u);
        QCOMPARE(st.st_mtime, when.tv_sec);
        QCOMPARE(::stat(QFile::encodeName(m_out + QStringLiteral("/ro/f")).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, 0755u);
        QCOMPARE(st.st_mtime, when.tv_sec);
        ::chmod(QFile::encodeName(m_out + QStringLiteral("/ro")).constData(), 0755);
    }

    void stagedFoldersMoveInCleaned()
    {
        const QString staging = m_dir->filePath(QStringLiteral("staging"));
        QVERIFY(QDir().mkpath(staging + QStringLiteral("/top/sub")));
        QFile file(staging + QStringLiteral("/top/sub/f"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::link(QStringLiteral("f"), staging + QStringLiteral("/top/sub/ok")));
        QVERIFY(QFile::link(QStringLiteral("../../.."), staging + QStringLiteral("/top/sub/out")));
        QCOMPARE(::mkfifo(QFile::encodeName(staging + QStringLiteral("/top/fifo")).constData(), 0600), 0);

        SafeDestination destination(m_out);
        const int stagingFd = ::open(QFile::encodeName(staging).constData(), O_RDONLY | O_DIRECTORY);
        QCOMPARE(destination.moveFolderIn(stagingFd, "top", { QStringLiteral("top") }).status, Status::Done);
        QCOMPARE(QDir(m_out + QStringLiteral("/top")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
            QStringList { QStringLiteral("sub") });
        QCOMPARE(
            QDir(m_out + QStringLiteral("/top/sub")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
            (QStringList { QStringLiteral("f"), QStringLiteral("ok") }));
        // Something already there: the caller merges entry by entry.
        QVERIFY(QDir().mkpath(staging + QStringLiteral("/top")));
        QCOMPARE(destination.moveFolderIn(stagingFd, "top", { QStringLiteral("top") }).status, Status::Kept);
        ::close(stagingFd);
    }

    // Removing a tree takes shut folders with it and nothing a link points to.
    void removeTreeNeverLeavesTheTree()
    {
        const QString outside = m_dir->filePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        QFile kept(outside + QStringLiteral("/keep"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        kept.close();
        const QString tree = m_out + QStringLiteral("/tree");
        QVERIFY(QDir().mkpath(tree + QStringLiteral("/shut/deeper")));
        QVERIFY(QFile::link(outside, tree + QStringLiteral("/shut/deeper/folder-link")));
        QVERIFY(QFile::link(outside + QStringLiteral("/keep"), tree + QStringLiteral("/file-link")));
        QCOMPARE(::chmod(QFile::encodeName(tree + QStringLiteral("/shut")).constData(), 0500), 0);

        QVERIFY(Folders::removeTree(AT_FDCWD, QFile::encodeName(tree).constData()));
        QVERIFY(!QFileInfo::exists(tree));
        QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep")));
        QVERIFY(!Folders::removeTree(AT_FDCWD, QFile::encodeName(tree).constData()));
        QCOMPARE(errno, ENOENT);
    }

    void overlongNamesFailClearly()
    {
        SafeDestination destination(m_out);
        const QString longName(300, u'n');
        const Outcome refused = writeFile(destination, longName, "x");
        QCOMPARE(refused.status, Status::Failed);
        QVERIFY(refused.message.contains(QStringLiteral("too long")));
        QCOMPARE(writeFile(destination, QStringLiteral("fine"), "x").status, Status::Done);
    }

    void legacyCodePages_data()
    {
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("one short GBK name")
            << QByteArray("GB18030") << QStringList { QStringLiteral("报告.docx") } << QByteArray("GB18030");
        QTest::newRow("GBK") << QByteArray("GB18030")
                             << QStringList { QStringLiteral("新建文件夹/"), QStringLiteral("新建文件夹/说明.txt"),
                                    QStringLiteral("图片/照片1.jpg") }
                             << QByteArray("GB18030");
        QTest::newRow("Big5") << QByteArray("BIG5")
                              << QStringList { QStringLiteral("新增資料夾/"), QStringLiteral("新增資料夾/說明.txt") }
                              << QByteArray("CP950");
        QTest::newRow("Shift_JIS") << QByteArray("SHIFT_JIS")
                                   << QStringList { QStringLiteral("新しいフォルダー/"),
                                          QStringLiteral("新しいフォルダー/説明.txt") }
                                   << QByteArray("CP932");
        QTest::newRow("CP866") << QByteArray("CP866")
                               << QStringList { QStringLiteral("Документы/"), QStringLiteral("Документы/отчёт.txt") }
                               << QByteArray("IBM866");
        QTest::newRow("CP437") << QByteArray("CP437")
                               << QStringList { QStringLiteral("Café.txt"), QStringLiteral("Über/naïve.txt") }
                               << QByteArray("CP437");
        QTest::newRow("UTF-8 without the flag")
            << QByteArray("UTF-8") << QStringList { QStringLiteral("中文名.txt") } << QByteArray("UTF-8");
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

ZAVRIN_TEST(SafeDestinationTest)
#include "tst_safedestination.moc"
