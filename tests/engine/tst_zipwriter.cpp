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

using namespace Qt::StringLiterals;

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
        writeFile(path(u"src/a.txt"_s), "alpha\n");
        writeFile(path(u"src/b/inner.txt"_s), wordSoup(4000));
        writeFile(path(u"src/b/run.sh"_s), "#!/bin/sh\n");
        ::chmod(QFile::encodeName(path(u"src/b/run.sh"_s)).constData(), 0750);
        writeFile(path(u"src/b/文件 ü.txt"_s), "unicode\n");
        writeFile(path(u"src/b/zero"_s), {});
        QDir().mkpath(path(u"src/b/empty"_s));
        ::symlink("inner.txt", QFile::encodeName(path(u"src/b/near"_s)).constData());
        ::symlink("/etc/passwd", QFile::encodeName(path(u"src/b/far"_s)).constData());
        writeFile(path(u"src/c.png"_s), randomBytes(3000));
        setTimes(path(u"src/b/inner.txt"_s), kOddSecond);
        setTimes(path(u"src/b/empty"_s), kOddSecond + 10);
        setTimes(path(u"src/b"_s), kOddSecond + 20);

        const QString staging = path(u"staging"_s);
        QDir().mkpath(staging);
        for (const char* item : { "a.txt", "b", "c.png" }) {
            const QString name = QString::fromLatin1(item);
            QFile::link(path(u"src/"_s + name), staging + u'/' + name);
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
        const QString archive = path(u"layout.zip"_s);
        QList<QPair<quint64, quint64>> reports;
        QVERIFY(pack(archive, makeStaging(), 1, std::nullopt, &reports).ok());
        QVERIFY(sevenZipTest(archive));

        const auto all = entries(archive);
        const QStringList expected { u"a.txt"_s, u"b/"_s, u"b/empty/"_s, u"b/far"_s, u"b/inner.txt"_s, u"b/near"_s,
            u"b/run.sh"_s, u"b/zero"_s, u"b/文件 ü.txt"_s, u"c.png"_s };
        QStringList names = all.keys();
        names.sort();
        QCOMPARE(names, expected);
        QCOMPARE(data(all[u"a.txt"_s]), QByteArray("alpha\n"));
        QCOMPARE(data(all[u"c.png"_s]), randomBytes(3000));
        // Names are flagged UTF-8.
        QVERIFY(all[u"b/文件 ü.txt"_s][u"flags"].toInt() & 0x800);
        QCOMPARE(data(all[u"b/文件 ü.txt"_s]), QByteArray("unicode\n"));

        // Progress counts entries, never goes back, and ends once with n == t.
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), qMakePair(quint64(expected.size()), quint64(expected.size())));
        for (qsizetype i = 1; i < reports.size(); ++i)
            QVERIFY(reports[i].first > reports[i - 1].first);
        QCOMPARE(std::count_if(reports.cbegin(), reports.cend(), [](auto r) { return r.first == r.second; }), 1);
    }

    void attributesTimesAndLinksRoundTrip()
    {
        const QString archive = path(u"attributes.zip"_s);
        QVERIFY(pack(archive, makeStaging()).ok());
        const auto all = entries(archive);

        const QJsonObject script = all[u"b/run.sh"_s];
        QCOMPARE(unixMode(script), quint32(S_IFREG | 0750));
        QCOMPARE(script[u"system"_s].toInt(), 3);
        QCOMPARE(unixMode(all[u"b/empty/"_s]) & S_IFMT, quint32(S_IFDIR));
        QCOMPARE(all[u"b/inner.txt"_s][u"ut"_s].toInteger(), qint64(kOddSecond));
        QCOMPARE(all[u"b/empty/"_s][u"ut"_s].toInteger(), qint64(kOddSecond + 10));

        // Links inside an item stay links: the target text, never the file behind it.
        for (const auto& [name, target] :
            { std::pair { "b/near", "inner.txt" }, std::pair { "b/far", "/etc/passwd" } }) {
            const QJsonObject link = all[QString::fromLatin1(name)];
            QCOMPARE(unixMode(link) & S_IFMT, quint32(S_IFLNK));
            QCOMPARE(data(link), QByteArray(target));
        }

        // And a real reader puts it all back.
        const QString out = path(u"attributes-out"_s);
        QVERIFY(sevenZipExtract(archive, out));
        QCOMPARE(lstatOf(out + u"/b/run.sh"_s).st_mode & 07777, mode_t(0750));
        QCOMPARE(lstatOf(out + u"/b/inner.txt"_s).st_mtim.tv_sec, kOddSecond);
        QVERIFY(S_ISDIR(lstatOf(out + u"/b/empty"_s).st_mode));
        QCOMPARE(QFile::symLinkTarget(out + u"/b/near"_s), out + u"/b/inner.txt"_s);
        QVERIFY(S_ISLNK(lstatOf(out + u"/b/far"_s).st_mode));
    }

    void passwordEncryptsEveryFileEntryWithAes256()
    {
        const QString staging = makeStaging();
        const QString locked = path(u"locked.zip"_s);
        QVERIFY(pack(locked, staging, 9, u"s3cret pässword"_s).ok());
        const auto all = entries(locked);
        QCOMPARE(all.size(), 10);
        for (const QJsonObject& entry : all) {
            const bool folder = entry[u"name"_s].toString().endsWith(u'/');
            QCOMPARE(bool(entry[u"flags"_s].toInt() & 1), !folder);
            if (folder)
                continue;
            QCOMPARE(entry[u"method"_s].toInt(), 99);
            QCOMPARE(entry[u"aes"_s][u"strength"_s].toInt(), 3);
            QCOMPARE(entry[u"aes"_s][u"vendor"_s].toString(), u"AE"_s);
        }
        QVERIFY(sevenZipTest(locked, u"s3cret pässword"_s));
        QVERIFY(!sevenZipTest(locked, u"wrong"_s));

        const QString open = path(u"open.zip"_s);
        QVERIFY(pack(open, staging).ok());
        for (const QJsonObject& entry : entries(open)) {
            QCOMPARE(entry[u"flags"_s].toInt() & 1, 0);
            QVERIFY(entry[u"aes"_s].isNull());
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
        const QMap<QString, QByteArray> files { { u"big.txt"_s, big },
            { u"noise.bin"_s, randomBytes(static_cast<int>(bigSize)) }, { u"small.txt"_s, "small" } };
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            writeFile(path(u"large/"_s + it.key()), it.value());
        const QString archive = path(u"large.zip"_s);
        QVERIFY(pack(archive, path(u"large"_s), 1, u"pw"_s).ok());
        const auto all = entries(archive);
        QCOMPARE(all[u"big.txt"_s][u"size"_s].toInteger(), qint64(big.size()));
        QCOMPARE(all[u"noise.bin"_s][u"aes"_s][u"strength"_s].toInt(), 3);
        const QString out = path(u"large-out"_s);
        QVERIFY(sevenZipExtract(archive, out, u"pw"_s));
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(readFile(out + u'/' + it.key()) == it.value(), qPrintable(it.key()));
    }

    // Whatever the budget, the workers hand over every job in order, and
    // the pieces of a large entry join into one deflate stream.
    void encodeAheadKeepsListOrderWithinAnyBudget()
    {
        std::vector<ZipEntry> list;
        QList<QByteArray> contents;
        for (int i = 0; i < 24; ++i) {
            const QString file = path(u"ahead/%1.txt"_s.arg(i));
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
        const QString archive = path(u"full/archive.zip"_s);
        QVERIFY(writeFile(archive, "the old archive"));

        QList<QPair<quint64, quint64>> reports;
        ZipOutputFile::setWriteLimitForTesting(2000);
        const Outcome full = pack(archive, staging, 1, std::nullopt, &reports);
        ZipOutputFile::setWriteLimitForTesting(-1);
        QCOMPARE(full.status, Outcome::Status::NoSpace);
        for (const auto& report : reports)
            QVERIFY(report.first < report.second);
        QCOMPARE(QDir(path(u"full"_s)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { u"archive.zip"_s });
        QCOMPARE(readFile(archive), QByteArray("the old archive"));

        // Once there is room, the same call replaces the old file with a complete archive.
        QVERIFY(pack(archive, staging).ok());
        QVERIFY(sevenZipTest(archive));
    }

    void realFullFileSystem()
    {
        const QString mountPoint = path(u"tiny"_s);
        QDir().mkpath(mountPoint);
        if (::geteuid() != 0
            || ::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("cannot mount a small file system here");
        writeFile(path(u"big/noise.bin"_s), randomBytes(512 * 1024));
        const Outcome full = pack(mountPoint + u"/noise.zip"_s, path(u"big"_s));
        const QStringList left = QDir(mountPoint).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        ::umount(QFile::encodeName(mountPoint).constData());
        QCOMPARE(full.status, Outcome::Status::NoSpace);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
    }

    // Between listing and reading a file may vanish or be swapped for a
    // link; neither may end in a successful archive, nor may the link be followed.
    void filesChangingUnderTheWriterFailTheArchive()
    {
        writeFile(path(u"change/item/keep.txt"_s), "keep");
        writeFile(path(u"change/item/swap.txt"_s), "swap");
        const std::vector<ZipEntry> list
            = ZipEntryList::listEntries(QFile::encodeName(path(u"change"_s)).toStdString(), false).entries;
        QCOMPARE(list.size(), std::size_t(3));
        const std::string archive = QFile::encodeName(path(u"change.zip"_s)).toStdString();
        QVERIFY(ZipWriter::write(archive, list, {}, {}).ok());
        QVERIFY(QFile::remove(path(u"change.zip"_s)));

        QVERIFY(QFile::remove(path(u"change/item/swap.txt"_s)));
        QCOMPARE(ZipWriter::write(archive, list, {}, {}).status, Outcome::Status::Failed);
        QVERIFY(QFile::link(u"/etc/hostname"_s, path(u"change/item/swap.txt"_s)));
        QCOMPARE(ZipWriter::write(archive, list, {}, {}).status, Outcome::Status::Failed);
        QVERIFY(!QFile::exists(path(u"change.zip"_s)));
    }

    // The archive being replaced may lie among the items: it is not packed into its successor.
    void theArchiveItselfIsLeftOut()
    {
        writeFile(path(u"self/x.txt"_s), "x");
        writeFile(path(u"self/packed.zip"_s), "the old archive");
        QDir().mkpath(path(u"selfstage"_s));
        QVERIFY(QFile::link(path(u"self"_s), path(u"selfstage/self"_s)));
        QVERIFY(pack(path(u"self/packed.zip"_s), path(u"selfstage"_s)).ok());
        QStringList names = entries(path(u"self/packed.zip"_s)).keys();
        names.sort();
        QCOMPARE(names, (QStringList { u"self/"_s, u"self/x.txt"_s }));
    }
};

ZAVRIN_TEST(ZipWriterTest)
#include "tst_zipwriter.moc"
