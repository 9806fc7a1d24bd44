#include "ZipEncodeAhead.h"
#include "ZipSourceFile.h"
#include "engine/crypto/Pbkdf2Sha1.h"
#include "engine/zipwrite/ZipWriter.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
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

    // The entries of `items`, each at the top level under its file name.
    static std::vector<ZipEntry> entriesOf(const QStringList& items, const QString& excluded = {})
    {
        std::vector<ZipItem> chosen;
        for (const QString& item : items)
            chosen.push_back(
                { QFile::encodeName(QFileInfo(item).fileName()).toStdString(), QFile::encodeName(item).toStdString() });
        std::vector<ZipEntry> entries;
        const Outcome listed = ZipEntryList::listItems(chosen, QFile::encodeName(excluded).toStdString(), &entries);
        if (!listed.ok())
            qWarning("%s", qPrintable(listed.message));
        return entries;
    }

    static Outcome pack(const QString& archive, const QStringList& items, const ZipWriter::Options& options = {})
    {
        return ZipWriter::write(QFile::encodeName(archive).toStdString(), entriesOf(items, archive), options, {});
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
        QStringList files;
        QList<QByteArray> contents;
        for (int i = 0; i < 24; ++i) {
            files.append(path(u"ahead/%1.txt"_s.arg(i)));
            const int large = static_cast<int>(ZipEncodeAhead::kLargestWhole + ZipEncodeAhead::kPieceSize * 3 / 2);
            // Pieces of noise end in stored blocks, pieces of text in compressed ones.
            contents.append(i == 10 ? randomBytes(large) : wordSoup(i % 7 == 3 ? large : 1000 + 700 * i));
            writeFile(files.last(), contents.last());
        }
        const std::vector<ZipEntry> list = entriesOf(files);
        QCOMPARE(list.size(), std::size_t(24));
        ZipEncodeAhead workers(list, 6, nullptr, StopToken(), 3, 1024);
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

    // Between listing and reading, or while it is read, a file may change.
    // An archive is made only of files read whole as they were listed: a
    // file replaced by rename is read to the end from the one opened, and
    // anything else fails the archive, naming the file, with nothing left.
    // A link put in a file's place is never followed.
    void filesChangingUnderTheWriter_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("large"); // read in pieces
        QTest::addColumn<bool>("whileRead"); // after the first piece is read, else before the writing
        QTest::addColumn<int>("status"); // Outcome::Status
        using S = Outcome::Status;
        QTest::newRow("removed") << u"remove"_s << false << false << int(S::Failed);
        QTest::newRow("swapped for a link") << u"link"_s << false << false << int(S::Failed);
        QTest::newRow("truncated before") << u"truncate"_s << false << false << int(S::Changed);
        QTest::newRow("touched before") << u"touch"_s << false << false << int(S::Changed);
        QTest::newRow("replaced by rename before") << u"rename"_s << false << false << int(S::Changed);
        QTest::newRow("small, replaced by rename while read") << u"rename"_s << false << true << int(S::Done);
        QTest::newRow("large, truncated while read") << u"truncate"_s << true << true << int(S::Changed);
        QTest::newRow("large, rewritten in place while read") << u"rewrite"_s << true << true << int(S::Changed);
        QTest::newRow("large, replaced by rename while read") << u"rename"_s << true << true << int(S::Done);
    }
    void filesChangingUnderTheWriter()
    {
        QFETCH(QString, change);
        QFETCH(bool, large);
        QFETCH(bool, whileRead);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString file = dir.filePath(u"item/data.bin"_s);
        const QByteArray old = randomBytes(large ? qsizetype(ZipEncodeAhead::kLargestWhole) + 3 * 1024 * 1024 : 5000);
        QByteArray newer = old;
        newer.fill('n', 1000);
        writeFile(file, old);
        writeFile(dir.filePath(u"item/keep.txt"_s), "keep");
        const std::vector<ZipEntry> list = entriesOf({ dir.filePath(u"item"_s) });
        QCOMPARE(list.size(), std::size_t(3));

        const QByteArray name = QFile::encodeName(file);
        // Later than anything just written, so that no clock tick hides the change.
        const auto setLater = [](const QByteArray& path) {
            const struct timespec later[2] = { { 0, UTIME_OMIT }, { 2000000000, 0 } };
            return ::utimensat(AT_FDCWD, path.constData(), later, 0) == 0;
        };
        // May run on a worker: reports instead of failing the test there.
        const auto doChange = [&] {
            if (change == u"remove")
                return QFile::remove(file);
            if (change == u"link")
                return QFile::remove(file) && QFile::link(u"/etc/hostname"_s, file);
            if (change == u"truncate")
                return ::truncate(name.constData(), 100) == 0;
            if (change == u"rename") {
                const QByteArray next = name + ".new";
                return writeFile(QFile::decodeName(next), newer) && setLater(next)
                    && ::rename(next.constData(), name.constData()) == 0;
            }
            if (change == u"rewrite") // in place, the same size
                return writeFile(file, newer) && setLater(name);
            return setLater(name); // touch
        };
        const std::uint64_t when = large ? ZipEncodeAhead::kPieceSize : 0;
        std::atomic<int> changes = 0;
        bool changedWell = true;
        if (whileRead) {
            ZipSourceFile::setReadHookForTesting([&](const std::string& path, std::uint64_t offset) {
                if (path == name.toStdString() && offset == when && changes++ == 0)
                    changedWell = doChange();
            });
        } else {
            changedWell = doChange();
            changes = 1;
        }
        const QString archive = dir.filePath(u"out.zip"_s);
        const Outcome written = ZipWriter::write(QFile::encodeName(archive).toStdString(), list, {}, {});
        ZipSourceFile::setReadHookForTesting({});

        QCOMPARE(changes.load(), 1);
        QVERIFY(changedWell);
        QCOMPARE(int(written.status), status);
        if (written.ok()) {
            const QString out = dir.filePath(u"out"_s);
            QVERIFY(sevenZipExtract(archive, out));
            QVERIFY(readFile(out + u"/item/data.bin"_s) == old);
            return;
        }
        QVERIFY2(written.message.contains(file), qPrintable(written.message));
        QCOMPARE(QDir(dir.path()).entryList({ u"*out*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // A job's stop ends its writing, leaving nothing; it stops no other job.
    void aStopEndsTheWritingOfItsJobAlone()
    {
        const QString archive = path(u"stopped.zip"_s);
        writeFile(path(u"stop/big.bin"_s), randomBytes(qsizetype(ZipEncodeAhead::kLargestWhole) * 3));
        ZipWriter::Options stopped;
        const ZipWriter::ProgressHandler stopOnceUnderWay = [&stopped](std::uint64_t done, std::uint64_t) {
            if (done > 0)
                stopped.stop.request();
        };
        const std::vector<ZipEntry> list = entriesOf({ path(u"stop/big.bin"_s) });
        const Outcome outcome
            = ZipWriter::write(QFile::encodeName(archive).toStdString(), list, stopped, stopOnceUnderWay);
        QCOMPARE(outcome.status, Outcome::Status::Cancelled);
        QCOMPARE(QDir(m_dir.path()).entryList({ u"*stopped.zip*"_s }, QDir::AllEntries | QDir::Hidden), QStringList());
        QVERIFY(pack(archive, { path(u"stop/big.bin"_s) }).ok());
        QVERIFY(sevenZipTest(archive));
    }

    // Level 0 stores, large files (in pieces) too; encrypted, the bytes go
    // in deflate's uncompressed blocks, as libzip would take stored bytes
    // for the content itself.
    void levelZeroStores_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << QString();
        QTest::newRow("encrypted") << u"secret"_s;
    }
    void levelZeroStores()
    {
        QFETCH(QString, password);
        const QByteArray large = wordSoup(int(ZipEncodeAhead::kLargestWhole + ZipEncodeAhead::kPieceSize * 3 / 2));
        writeFile(path(u"store/large.txt"_s), large);
        writeFile(path(u"store/small.txt"_s), "small");
        ZipWriter::Options options;
        options.compressionLevel = 0;
        if (!password.isEmpty())
            options.password = password;
        const QString archive = path(u"stored-%1.zip"_s.arg(password));
        QVERIFY(pack(archive, { path(u"store"_s) }, options).ok());
        for (const QJsonObject& entry : entries(archive)) {
            const bool folder = entry[u"name"_s].toString().endsWith(u'/');
            QCOMPARE(entry[u"method"_s].toInt(), folder || password.isEmpty() ? 0 : 99);
            if (password.isEmpty())
                QCOMPARE(entry[u"csize"_s].toInteger(), entry[u"size"_s].toInteger());
        }
        const QString out = path(u"stored-%1"_s.arg(password));
        QVERIFY(sevenZipExtract(archive, out, password));
        QVERIFY(readFile(out + u"/store/large.txt"_s) == large);
    }

    // "abc\0zzz" would open as "abc" with tools that read C strings.
    void aPasswordWithNulIsRefused()
    {
        writeFile(path(u"nul/a.txt"_s), "a");
        ZipWriter::Options options;
        options.password = QString::fromUtf16(u"abc\0zzz", 7);
        const QString archive = path(u"nul.zip"_s);
        QCOMPARE(pack(archive, { path(u"nul/a.txt"_s) }, options).status, Outcome::Status::Unsupported);
        QVERIFY(!QFile::exists(archive));
    }

    // The archive being replaced may lie among the items: it is not packed into its successor.
    void theArchiveItselfIsLeftOut()
    {
        writeFile(path(u"self/x.txt"_s), "x");
        writeFile(path(u"self/packed.zip"_s), "the old archive");
        QVERIFY(pack(path(u"self/packed.zip"_s), { path(u"self"_s) }).ok());
        QStringList names = entries(path(u"self/packed.zip"_s)).keys();
        names.sort();
        QCOMPARE(names, (QStringList { u"self/"_s, u"self/x.txt"_s }));
    }
};

ZAVRIN_TEST(ZipWriterTest)
#include "tst_zipwriter.moc"
