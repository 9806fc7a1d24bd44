#include "engine/Pbkdf2Sha1.h"
#include "engine/zipwrite/ZipWriter.h"
#include "engine/zipwrite/private/ZipEncodeAhead.h"
#include "engine/zipwrite/private/ZipOutputFile.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <openssl/evp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

using namespace ZipInspection;

namespace {

constexpr time_t kOddSecond = 1600000001; // DOS times cannot hold it; the UT field can

void setTimes(const QString& path, time_t seconds)
{
    const struct timespec times[2] = { { seconds, 0 }, { seconds, 0 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}

QByteArray inflateRaw(const std::string& data, qsizetype expected)
{
    z_stream stream {};
    inflateInit2(&stream, -MAX_WBITS);
    QByteArray out(expected + 1, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const bool ok = inflate(&stream, Z_FINISH) == Z_STREAM_END;
    out.resize(ok ? static_cast<qsizetype>(stream.total_out) : 0);
    inflateEnd(&stream);
    return out;
}

QByteArray randomBytes(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return data;
}

} // namespace

class ZipWriterTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // A staging-like folder: links to a.txt, b (a folder) and c.png.
    QString makeStaging()
    {
        writeFile(path(QStringLiteral("src/a.txt")), "alpha\n");
        writeFile(path(QStringLiteral("src/b/inner.txt")), wordSoup(4000));
        writeFile(path(QStringLiteral("src/b/run.sh")), "#!/bin/sh\n");
        ::chmod(QFile::encodeName(path(QStringLiteral("src/b/run.sh"))).constData(), 0750);
        writeFile(path(QStringLiteral("src/b/文件 ü.txt")), "unicode\n");
        writeFile(path(QStringLiteral("src/b/zero")), {});
        QDir().mkpath(path(QStringLiteral("src/b/empty")));
        ::symlink("inner.txt", QFile::encodeName(path(QStringLiteral("src/b/near"))).constData());
        ::symlink("/etc/passwd", QFile::encodeName(path(QStringLiteral("src/b/far"))).constData());
        writeFile(path(QStringLiteral("src/c.png")), randomBytes(3000));
        setTimes(path(QStringLiteral("src/b/inner.txt")), kOddSecond);
        setTimes(path(QStringLiteral("src/b/empty")), kOddSecond + 10);
        setTimes(path(QStringLiteral("src/b")), kOddSecond + 20);

        const QString staging = path(QStringLiteral("staging"));
        QDir().mkpath(staging);
        for (const char* item : { "a.txt", "b", "c.png" }) {
            const QString name = QString::fromLatin1(item);
            QFile::link(path(QStringLiteral("src/") + name), staging + u'/' + name);
        }
        return staging;
    }

    Outcome pack(const QString& archive, const QString& staging, int level = 1,
        const std::optional<QString>& password = std::nullopt, QList<QPair<quint64, quint64>>* reports = nullptr)
    {
        return ZipWriter::createZipFileAtPath(
            archive, staging, false, level, password, true, [reports](std::uint64_t n, std::uint64_t t) {
                if (reports)
                    reports->append({ n, t });
            });
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void topLevelItemsAndWhatTheyHold()
    {
        const QString archive = path(QStringLiteral("layout.zip"));
        QList<QPair<quint64, quint64>> reports;
        QVERIFY(pack(archive, makeStaging(), 1, std::nullopt, &reports).ok());
        QVERIFY(sevenZipTest(archive));

        const auto all = entries(archive);
        const QStringList expected { QStringLiteral("a.txt"), QStringLiteral("b/"), QStringLiteral("b/empty/"),
            QStringLiteral("b/far"), QStringLiteral("b/inner.txt"), QStringLiteral("b/near"),
            QStringLiteral("b/run.sh"), QStringLiteral("b/zero"), QStringLiteral("b/文件 ü.txt"),
            QStringLiteral("c.png") };
        QStringList names = all.keys();
        names.sort();
        QCOMPARE(names, expected);
        QCOMPARE(data(all[QStringLiteral("a.txt")]), QByteArray("alpha\n"));
        QCOMPARE(data(all[QStringLiteral("c.png")]), randomBytes(3000));

        // Progress counts entries, never goes back, and ends once with n == t.
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), qMakePair(quint64(expected.size()), quint64(expected.size())));
        for (qsizetype i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i].first > reports[i - 1].first);
        QCOMPARE(std::count_if(reports.cbegin(), reports.cend(), [](auto r) { return r.first == r.second; }), 1);
    }

    void attributesTimesAndLinksRoundTrip()
    {
        const QString archive = path(QStringLiteral("attributes.zip"));
        QVERIFY(pack(archive, makeStaging()).ok());
        const auto all = entries(archive);

        const QJsonObject script = all[QStringLiteral("b/run.sh")];
        QCOMPARE(unixMode(script), quint32(S_IFREG | 0750));
        QCOMPARE(script[QStringLiteral("system")].toInt(), 3);
        QCOMPARE(unixMode(all[QStringLiteral("b/empty/")]) & S_IFMT, quint32(S_IFDIR));
        QCOMPARE(all[QStringLiteral("b/inner.txt")][QStringLiteral("ut")].toInteger(), qint64(kOddSecond));
        QCOMPARE(all[QStringLiteral("b/empty/")][QStringLiteral("ut")].toInteger(), qint64(kOddSecond + 10));

        // Links inside an item stay links: the target text, never the file behind it.
        for (const auto& [name, target] :
            { std::pair { "b/near", "inner.txt" }, std::pair { "b/far", "/etc/passwd" } }) {
            const QJsonObject link = all[QString::fromLatin1(name)];
            QCOMPARE(unixMode(link) & S_IFMT, quint32(S_IFLNK));
            QCOMPARE(data(link), QByteArray(target));
        }

        // And a real reader puts it all back.
        const QString out = path(QStringLiteral("attributes-out"));
        QVERIFY(sevenZipExtract(archive, out));
        QCOMPARE(lstatOf(out + QStringLiteral("/b/run.sh")).st_mode & 07777, mode_t(0750));
        QCOMPARE(lstatOf(out + QStringLiteral("/b/inner.txt")).st_mtim.tv_sec, kOddSecond);
        QVERIFY(S_ISDIR(lstatOf(out + QStringLiteral("/b/empty")).st_mode));
        QCOMPARE(QFile::symLinkTarget(out + QStringLiteral("/b/near")), out + QStringLiteral("/b/inner.txt"));
        QVERIFY(S_ISLNK(lstatOf(out + QStringLiteral("/b/far")).st_mode));
    }

    void namesAreFlaggedUtf8()
    {
        const QString archive = path(QStringLiteral("names.zip"));
        QVERIFY(pack(archive, makeStaging()).ok());
        const auto all = entries(archive);
        const QJsonObject unicode = all.value(QStringLiteral("b/文件 ü.txt"));
        QVERIFY(!unicode.isEmpty());
        QVERIFY(unicode[QStringLiteral("flags")].toInt() & 0x800);
        QCOMPARE(data(unicode), QByteArray("unicode\n"));
    }

    void passwordEncryptsEveryFileEntryWithAes256()
    {
        const QString staging = makeStaging();
        const QString locked = path(QStringLiteral("locked.zip"));
        QVERIFY(pack(locked, staging, 9, QStringLiteral("s3cret pässword")).ok());
        const auto all = entries(locked);
        QCOMPARE(all.size(), 10);
        for (const QJsonObject& entry : all) {
            const bool folder = entry[QStringLiteral("name")].toString().endsWith(u'/');
            QCOMPARE(bool(entry[QStringLiteral("flags")].toInt() & 1), !folder);
            if (folder)
                continue;
            QCOMPARE(entry[QStringLiteral("method")].toInt(), 99);
            QCOMPARE(entry[QStringLiteral("aes")][QStringLiteral("strength")].toInt(), 3);
            QCOMPARE(entry[QStringLiteral("aes")][QStringLiteral("vendor")].toString(), QStringLiteral("AE"));
        }
        QVERIFY(sevenZipTest(locked, QStringLiteral("s3cret pässword")));
        QVERIFY(!sevenZipTest(locked, QStringLiteral("wrong")));

        const QString open = path(QStringLiteral("open.zip"));
        QVERIFY(pack(open, staging).ok());
        for (const QJsonObject& entry : entries(open)) {
            QCOMPARE(entry[QStringLiteral("flags")].toInt() & 1, 0);
            QVERIFY(entry[QStringLiteral("aes")].isNull());
        }
    }

    // The entries' key derivation, on the processor's SHA instructions and
    // on the portable path, gives byte for byte what OpenSSL's does.
    void keyDerivationMatchesOpenSsl_data()
    {
        QTest::addColumn<bool>("portable");
        QTest::addColumn<int>("passwordLength");
        QTest::addColumn<int>("saltLength");
        QTest::addColumn<int>("iterations");
        QTest::addColumn<int>("keyLength");
        for (const bool portable : { false, true }) {
            const char* way = portable ? "portable" : "native";
            QTest::addRow("%s: AES-256 entry", way) << portable << 15 << 16 << 1000 << 66;
            QTest::addRow("%s: AES-128 entry", way) << portable << 8 << 8 << 1000 << 34;
            QTest::addRow("%s: AES-192 entry", way) << portable << 9 << 12 << 1000 << 50;
            QTest::addRow("%s: empty password, one iteration", way) << portable << 0 << 16 << 1 << 20;
            QTest::addRow("%s: password longer than a block", way) << portable << 100 << 16 << 2 << 66;
            QTest::addRow("%s: padding spills into a second block", way) << portable << 64 << 56 << 3 << 21;
            QTest::addRow("%s: salt over a block, five output blocks", way) << portable << 20 << 70 << 5 << 99;
        }
    }

    void keyDerivationMatchesOpenSsl()
    {
        QFETCH(bool, portable);
        QFETCH(int, passwordLength);
        QFETCH(int, saltLength);
        QFETCH(int, iterations);
        QFETCH(int, keyLength);
        QByteArray password = randomBytes(passwordLength + 4).left(passwordLength);
        const QByteArray salt = randomBytes(saltLength + 4).right(saltLength);
        QByteArray ours(keyLength, '\0');
        QByteArray theirs(keyLength, '\0');
        Pbkdf2Sha1::setPortableForTesting(portable);
        Pbkdf2Sha1::derive(password.constData(), static_cast<std::size_t>(password.size()),
            reinterpret_cast<const unsigned char*>(salt.constData()), static_cast<std::size_t>(saltLength),
            static_cast<unsigned>(iterations), reinterpret_cast<unsigned char*>(ours.data()),
            static_cast<std::size_t>(keyLength));
        Pbkdf2Sha1::setPortableForTesting(false);
        QCOMPARE(PKCS5_PBKDF2_HMAC_SHA1(password.constData(), passwordLength,
                     reinterpret_cast<const unsigned char*>(salt.constData()), saltLength, iterations, keyLength,
                     reinterpret_cast<unsigned char*>(theirs.data())),
            1);
        QCOMPARE(ours.toHex(), theirs.toHex());
    }

    // Large entries are compressed in pieces side by side, joined, and
    // encrypted in order as one stream each, several entries at once.
    void largeEntriesComeInPieces()
    {
        const auto bigSize = static_cast<qsizetype>(ZipEncodeAhead::kLargestWhole + ZipEncodeAhead::kPieceSize + 12345);
        QByteArray big;
        big.reserve(bigSize + 64);
        for (int i = 0; big.size() < bigSize; ++i)
            big += "row " + QByteArray::number(i) + ": " + QByteArray::number(i * 2654435761u % 1000003) + '\n';
        const QMap<QString, QByteArray> files { { QStringLiteral("big.txt"), big },
            { QStringLiteral("noise.bin"), randomBytes(static_cast<int>(bigSize)) },
            { QStringLiteral("small.txt"), "small" } };
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writeFile(path(QStringLiteral("large/") + it.key()), it.value());
        const QString archive = path(QStringLiteral("large.zip"));
        QVERIFY(pack(archive, path(QStringLiteral("large")), 1, QStringLiteral("pw")).ok());
        const auto all = entries(archive);
        QCOMPARE(all[QStringLiteral("big.txt")][QStringLiteral("size")].toInteger(), qint64(big.size()));
        QCOMPARE(all[QStringLiteral("noise.bin")][QStringLiteral("aes")][QStringLiteral("strength")].toInt(), 3);
        const QString out = path(QStringLiteral("large-out"));
        QVERIFY(sevenZipExtract(archive, out, QStringLiteral("pw")));
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QFile extracted(out + u'/' + it.key());
            QVERIFY(extracted.open(QIODevice::ReadOnly));
            QVERIFY2(extracted.readAll() == it.value(), qPrintable(it.key()));
        }
    }

    // Whatever the budget, the workers hand over every job in order, and
    // the pieces of a large entry join into one deflate stream.
    void encodeAheadKeepsListOrderWithinAnyBudget()
    {
        std::vector<ZipEntry> list;
        QList<QByteArray> contents;
        for (int i = 0; i < 24; ++i) {
            const QString file = path(QStringLiteral("ahead/%1.txt").arg(i));
            const int large = static_cast<int>(ZipEncodeAhead::kLargestWhole + ZipEncodeAhead::kPieceSize * 3 / 2);
            // Pieces of noise end in stored blocks, pieces of text in compressed ones.
            contents.append(i == 10 ? randomBytes(large) : wordSoup(i % 7 == 3 ? large : 1000 + 700 * i));
            writeFile(file, contents.last());
            ZipEntry entry;
            entry.sourcePath = QFile::encodeName(file).toStdString();
            entry.size = static_cast<std::uint64_t>(contents.last().size());
            list.push_back(entry);
        }
        ZipEncodeAhead workers(list, 6, nullptr, 3, 1024);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const QByteArray& content = contents[static_cast<qsizetype>(i)];
            const std::uint64_t pieces = (list[i].size + ZipEncodeAhead::kPieceSize - 1) / ZipEncodeAhead::kPieceSize;
            QCOMPARE(workers.jobCount(i), list[i].size > ZipEncodeAhead::kLargestWhole ? pieces : 1);
            std::string joined;
            std::uint32_t crc = 0;
            for (std::size_t job = workers.firstJob(i); job < workers.firstJob(i) + workers.jobCount(i); ++job) {
                const std::unique_ptr<EncodedPiece> piece = workers.take(job);
                QVERIFY2(piece->outcome.ok(), qPrintable(piece->outcome.message));
                joined += piece->data;
                crc = static_cast<std::uint32_t>(crc32_combine(crc, piece->crc, static_cast<z_off_t>(piece->size)));
            }
            QCOMPARE(inflateRaw(joined, content.size()), content);
            QCOMPARE(crc,
                static_cast<std::uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(content.constData()), static_cast<uInt>(content.size()))));
        }
    }

    // A full disk shows only when libzip writes, inside zip_close.
    void writeFailureLeavesNothingAndKeepsAnOldFile()
    {
        const QString staging = makeStaging();
        const QString archive = path(QStringLiteral("full/archive.zip"));
        QVERIFY(writeFile(archive, "the old archive"));

        QList<QPair<quint64, quint64>> reports;
        ZipOutputFile::setWriteLimitForTesting(2000);
        const Outcome full = pack(archive, staging, 1, std::nullopt, &reports);
        ZipOutputFile::setWriteLimitForTesting(-1);
        QCOMPARE(full.status, Outcome::Status::NoSpace);
        for (const auto& report : reports)
            QVERIFY(report.first < report.second);
        QCOMPARE(QDir(path(QStringLiteral("full"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { QStringLiteral("archive.zip") });
        QFile old(archive);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the old archive"));

        // Once there is room, the same call replaces the old file with a complete archive.
        QVERIFY(pack(archive, staging).ok());
        QVERIFY(sevenZipTest(archive));
    }

    void realFullFileSystem()
    {
        const QString mountPoint = path(QStringLiteral("tiny"));
        QDir().mkpath(mountPoint);
        if (::geteuid() != 0
            || ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        writeFile(path(QStringLiteral("big/noise.bin")), randomBytes(512 * 1024));
        const Outcome full = pack(mountPoint + QStringLiteral("/noise.zip"), path(QStringLiteral("big")));
        const QStringList left = QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        ::umount(QFile::encodeName(mountPoint).constData());
        QCOMPARE(full.status, Outcome::Status::NoSpace);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    }

    // Between listing and reading a file may vanish or be swapped for a
    // link; neither may end in a successful archive, nor may the link be followed.
    void filesChangingUnderTheWriterFailTheArchive()
    {
        writeFile(path(QStringLiteral("change/item/keep.txt")), "keep");
        writeFile(path(QStringLiteral("change/item/swap.txt")), "swap");
        const std::vector<ZipEntry> list
            = ZipEntryList::listEntries(QFile::encodeName(path(QStringLiteral("change"))).toStdString(), false).entries;
        QCOMPARE(list.size(), std::size_t(3));
        const std::string archive = QFile::encodeName(path(QStringLiteral("change.zip"))).toStdString();
        QVERIFY(ZipWriter::write(archive, list, {}, {}).ok());
        QVERIFY(QFile::remove(path(QStringLiteral("change.zip"))));

        QVERIFY(QFile::remove(path(QStringLiteral("change/item/swap.txt"))));
        QCOMPARE(ZipWriter::write(archive, list, {}, {}).status, Outcome::Status::Failed);
        QVERIFY(QFile::link(QStringLiteral("/etc/hostname"), path(QStringLiteral("change/item/swap.txt"))));
        QCOMPARE(ZipWriter::write(archive, list, {}, {}).status, Outcome::Status::Failed);
        QVERIFY(!QFile::exists(path(QStringLiteral("change.zip"))));
    }

    // The archive being replaced may lie among the items: it is not packed into its successor.
    void theArchiveItselfIsLeftOut()
    {
        writeFile(path(QStringLiteral("self/x.txt")), "x");
        writeFile(path(QStringLiteral("self/packed.zip")), "the old archive");
        QDir().mkpath(path(QStringLiteral("selfstage")));
        QVERIFY(QFile::link(path(QStringLiteral("self")), path(QStringLiteral("selfstage/self"))));
        QVERIFY(pack(path(QStringLiteral("self/packed.zip")), path(QStringLiteral("selfstage"))).ok());
        QStringList names = entries(path(QStringLiteral("self/packed.zip"))).keys();
        names.sort();
        QCOMPARE(names, (QStringList { QStringLiteral("self/"), QStringLiteral("self/x.txt") }));
    }

    void nothingToPackIsAFailure()
    {
        QDir().mkpath(path(QStringLiteral("nothing")));
        QCOMPARE(pack(path(QStringLiteral("nothing.zip")), path(QStringLiteral("nothing"))).status,
            Outcome::Status::NothingToPack);
        QVERIFY(!QFile::exists(path(QStringLiteral("nothing.zip"))));
    }
};

ZAVRIN_TEST(ZipWriterTest)
#include "tst_zipwriter.moc"
