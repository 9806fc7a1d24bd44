#include "engine/crypto/Pbkdf2Sha1.h"
#include "engine/zipwrite/ZipWriter.h"
#include "engine/zipwrite/private/ZipEncodeAhead.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QTemporaryDir>
#include <QTest>
#include <openssl/evp.h>
#include <sys/mount.h>
#include <unistd.h>
#include <zlib.h>

using namespace Qt::StringLiterals;

using namespace ZipInspection;

namespace {

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

} // namespace

class ZipWriterTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    Outcome pack(const QString& archive, const QString& staging)
    {
        return ZipWriter::createZipFileAtPath(archive, staging, false, 1, std::nullopt, true, {});
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

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
