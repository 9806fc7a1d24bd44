#include "engine/extract/ZipEntryReader.h"

#include <algorithm>
#include <libdeflate.h>
#include <openssl/crypto.h>

namespace {

constexpr std::size_t kInputChunk = 1024 * 1024;
// Entries larger than this are authenticated on a companion thread while
// they are decrypted and inflated here.
constexpr std::uint64_t kAuthenticateAside = 4 * 1024 * 1024;
// Deflate data can come out a little larger than its content; a stored
// size past this for an entry read whole is damage.
constexpr std::uint64_t kWholeStoredLimit = ZipEntryReader::kWholeLimit + ZipEntryReader::kWholeLimit / 8 + 4096;

int keyBits(zip_uint16_t method)
{
    switch (method) {
    case ZIP_EM_AES_128:
        return 128;
    case ZIP_EM_AES_192:
        return 192;
    case ZIP_EM_AES_256:
        return 256;
    default:
        return 0;
    }
}

} // namespace

ZipEntryReader::ZipEntryReader(zip_t* archive, std::mutex* archiveLock)
    : m_archive(archive)
    , m_archiveLock(archiveLock)
{
}

ZipEntryReader::~ZipEntryReader()
{
    close();
    if (m_inflateReady)
        inflateEnd(&m_inflate);
    libdeflate_free_decompressor(m_decompressor);
}

std::unique_lock<std::mutex> ZipEntryReader::lockArchive() const
{
    return m_archiveLock ? std::unique_lock(*m_archiveLock) : std::unique_lock<std::mutex>();
}

void ZipEntryReader::close()
{
    if (m_file) {
        const auto lock = lockArchive();
        zip_fclose(m_file);
    }
    m_file = nullptr;
    m_own = m_aes = false;
}

qint64 ZipEntryReader::fail(const QString& message)
{
    m_error = message;
    return -1;
}

bool ZipEntryReader::refuse(const QString& message)
{
    m_error = message;
    return false;
}

Outcome ZipEntryReader::open(zip_uint64_t index, bool encrypted, const QByteArray& password)
{
    close();
    m_wrongPassword = m_unsupported = false;
    m_error.clear();
    if (openEntry(index, encrypted, password))
        return {};
    using Status = Outcome::Status;
    return { .status = m_wrongPassword ? Status::WrongPassword
            : m_unsupported            ? Status::Unsupported
                                       : Status::Damaged,
        .message = m_error };
}

bool ZipEntryReader::openEntry(zip_uint64_t index, bool encrypted, const QByteArray& password)
{
    zip_stat_t stat;
    bool known = false;
    {
        const auto lock = lockArchive();
        known = zip_stat_index(m_archive, index, 0, &stat) == 0;
    }
    constexpr zip_uint64_t kNeeded = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
    const bool ownMethod = known && (stat.valid & kNeeded) == kNeeded
        && (stat.comp_method == ZIP_CM_STORE || stat.comp_method == ZIP_CM_DEFLATE);
    const zip_uint16_t method
        = known && (stat.valid & ZIP_STAT_ENCRYPTION_METHOD) ? stat.encryption_method : ZIP_EM_NONE;
    if (encrypted && ownMethod && keyBits(method) != 0)
        return openRaw(index, stat, true, password);
    if (!encrypted && ownMethod && method == ZIP_EM_NONE && (stat.valid & ZIP_STAT_CRC))
        return openRaw(index, stat, false, {});
    // libzip 1.7.3 leaks the reader it set up when it then meets a cipher it
    // lacks (strong encryption, say), so such entries are refused here.
    if (encrypted && method != ZIP_EM_NONE && !zip_encryption_method_supported(method, 0)) {
        m_unsupported = true;
        return refuse(QStringLiteral("Encryption method not supported"));
    }

    const auto lock = lockArchive();
    m_file = encrypted ? zip_fopen_index_encrypted(m_archive, index, 0, password.constData())
                       : zip_fopen_index(m_archive, index, 0);
    if (!m_file) {
        const int code = zip_error_code_zip(zip_get_error(m_archive));
        m_wrongPassword = code == ZIP_ER_WRONGPASSWD;
        m_unsupported = code == ZIP_ER_COMPNOTSUPP || code == ZIP_ER_ENCRNOTSUPP;
        m_error = QString::fromLocal8Bit(zip_strerror(m_archive));
        return false;
    }
    return true;
}

bool ZipEntryReader::openRaw(zip_uint64_t index, const zip_stat_t& stat, bool aes, const QByteArray& password)
{
    const int bits = aes ? keyBits(stat.encryption_method) : 0;
    const std::size_t saltLength = aes ? ZipAesCipher::saltLength(bits) : 0;
    const std::size_t overhead = aes ? saltLength + ZipAesCipher::kVerifierLength + ZipAesCipher::kCodeLength : 0;
    if (stat.comp_size < overhead)
        return refuse(QStringLiteral("damaged AES entry"));
    // The bytes as stored: for AES the salt, verifier, encrypted data, code.
    {
        const auto lock = lockArchive();
        m_file = zip_fopen_index(m_archive, index, aes ? ZIP_FL_ENCRYPTED : ZIP_FL_COMPRESSED);
        if (!m_file)
            return refuse(QString::fromLocal8Bit(zip_strerror(m_archive)));
    }
    m_own = true;
    m_aes = aes;
    m_dataLeft = stat.comp_size - overhead;
    m_size = stat.size;
    m_produced = 0;
    m_authenticateAside = aes && m_dataLeft > kAuthenticateAside;
    m_deflated = stat.comp_method == ZIP_CM_DEFLATE;
    // AE-1 entries keep the CRC; AE-2 entries leave it zero and rely on the
    // code alone. libzip hides the field that tells them apart.
    m_checkCrc = !aes || ((stat.valid & ZIP_STAT_CRC) && stat.crc != 0);
    m_expectedCrc = stat.crc;
    m_crc = 0;
    m_streamEnded = m_ended = false;

    if (aes) {
        unsigned char header[16 + ZipAesCipher::kVerifierLength];
        unsigned char verifier[ZipAesCipher::kVerifierLength];
        if (!m_cipher)
            m_cipher = std::make_unique<ZipAesCipher>();
        if (!readRaw(header, saltLength + ZipAesCipher::kVerifierLength))
            return false;
        if (!m_cipher->start(password.toStdString(), bits, header, verifier))
            return refuse(QStringLiteral("AES: the crypto library failed"));
        if (CRYPTO_memcmp(verifier, header + saltLength, sizeof verifier) != 0) {
            m_wrongPassword = true;
            return refuse(QStringLiteral("Wrong password provided"));
        }
    }
    if (m_deflated) {
        m_inflate.next_in = nullptr;
        m_inflate.avail_in = 0;
        if (!m_inflateReady)
            m_inflateReady = inflateInit2(&m_inflate, -MAX_WBITS) == Z_OK;
        else if (inflateReset(&m_inflate) != Z_OK)
            return refuse(QStringLiteral("inflate"));
        if (!m_inflateReady)
            return refuse(QStringLiteral("inflate"));
    }
    return true;
}

// Exactly `size` stored bytes. libzip is never asked past the entry's end,
// where its CRC check of the raw bytes would report an error.
bool ZipEntryReader::readRaw(unsigned char* data, std::size_t size)
{
    const auto lock = lockArchive();
    std::size_t got = 0;
    while (got < size) {
        const zip_int64_t n = zip_fread(m_file, data + got, size - got);
        if (n <= 0)
            return refuse(
                n < 0 ? QString::fromLocal8Bit(zip_file_strerror(m_file)) : QStringLiteral("entry cut short"));
        got += static_cast<std::size_t>(n);
    }
    return true;
}

qint64 ZipEntryReader::read(char* data, qint64 size)
{
    if (!m_own) {
        const auto lock = lockArchive();
        const zip_int64_t n = zip_fread(m_file, data, static_cast<zip_uint64_t>(size));
        if (n < 0)
            m_error = QString::fromLocal8Bit(zip_file_strerror(m_file));
        return n;
    }
    const qint64 n = readOwn(data, size);
    if (n <= 0)
        return n;
    m_produced += static_cast<std::uint64_t>(n);
    // Stopped at once: a bomb would otherwise fill the disk before its end.
    if (m_produced > m_size)
        return fail(QStringLiteral("damaged data: longer than listed"));
    // AE-2 entries carry no CRC: their code alone authenticates them.
    if (m_checkCrc)
        m_crc = libdeflate_crc32(m_crc, data, static_cast<std::size_t>(n));
    return n;
}

qint64 ZipEntryReader::readOwn(char* data, qint64 size)
{
    auto* out = reinterpret_cast<unsigned char*>(data);
    const auto wanted = static_cast<std::size_t>(std::min<qint64>(size, kInputChunk));
    if (!m_deflated) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, m_dataLeft));
        if (n == 0)
            return finish();
        if (!readRaw(out, n))
            return -1;
        if (!decrypt(out, n))
            return fail(QStringLiteral("AES: the crypto library failed"));
        m_dataLeft -= n;
        return static_cast<qint64>(n);
    }
    for (;;) {
        if (!m_streamEnded) {
            // Even without new input: zlib may hold output that did not fit last time.
            m_inflate.next_out = out;
            m_inflate.avail_out = static_cast<uInt>(wanted);
            const int status = inflate(&m_inflate, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
                return fail(QStringLiteral("damaged data"));
            m_streamEnded = status == Z_STREAM_END;
            const std::size_t produced = wanted - m_inflate.avail_out;
            if (produced > 0)
                return static_cast<qint64>(produced);
            if (m_inflate.avail_in > 0 && !m_streamEnded)
                return fail(QStringLiteral("damaged data")); // no progress with input and room left
        }
        if (m_dataLeft == 0)
            return finish();
        // Refill; what follows the end of the deflate stream is still authenticated.
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kInputChunk, m_dataLeft));
        m_input.resize(std::max(m_input.size(), kInputChunk));
        if (!readRaw(m_input.data(), n))
            return -1;
        if (!decrypt(m_input.data(), n))
            return fail(QStringLiteral("AES: the crypto library failed"));
        m_dataLeft -= n;
        m_inflate.next_in = m_input.data();
        m_inflate.avail_in = static_cast<uInt>(n);
    }
}

bool ZipEntryReader::decrypt(unsigned char* data, std::size_t size)
{
    if (!m_aes)
        return true;
    return m_authenticateAside ? m_cipher->decryptAside(data, size) : m_cipher->decrypt(data, size);
}

bool ZipEntryReader::canReadWhole() const
{
    return m_own && m_produced == 0 && m_size <= kWholeLimit && m_dataLeft <= kWholeStoredLimit && !m_authenticateAside;
}

Outcome ZipEntryReader::readWhole(std::vector<char>* out)
{
    if (readAll(out))
        return {};
    return failure();
}

bool ZipEntryReader::readAll(std::vector<char>* out)
{
    const auto stored = static_cast<std::size_t>(m_dataLeft);
    out->resize(static_cast<std::size_t>(m_size));
    if (!m_deflated) {
        if (stored != out->size())
            return refuse(QStringLiteral("damaged data: the entry's size differs from its listing"));
        if (!readRaw(reinterpret_cast<unsigned char*>(out->data()), stored))
            return false;
        if (!decrypt(reinterpret_cast<unsigned char*>(out->data()), stored))
            return refuse(QStringLiteral("AES: the crypto library failed"));
    } else {
        m_input.resize(std::max(m_input.size(), stored));
        if (!readRaw(m_input.data(), stored))
            return false;
        if (!decrypt(m_input.data(), stored))
            return refuse(QStringLiteral("AES: the crypto library failed"));
        if (!m_decompressor && !(m_decompressor = libdeflate_alloc_decompressor()))
            return refuse(QStringLiteral("inflate"));
        // In one call, into a buffer of the listed size: content that does
        // not fill it exactly is damage, whatever the stream says.
        std::size_t produced = 0;
        const libdeflate_result result = libdeflate_deflate_decompress(
            m_decompressor, m_input.data(), stored, out->data(), out->size(), &produced);
        if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
            return refuse(QStringLiteral("damaged data: longer than listed"));
        if (result != LIBDEFLATE_SUCCESS)
            return refuse(QStringLiteral("damaged data"));
        m_streamEnded = true;
        out->resize(produced);
    }
    m_dataLeft = 0;
    m_produced = out->size();
    if (m_checkCrc)
        m_crc = libdeflate_crc32(0, out->data(), out->size());
    return finish() == 0;
}

// All data read: the code (for AES), the stream's end, the size and the CRC
// must confirm it.
qint64 ZipEntryReader::finish()
{
    if (m_ended)
        return 0;
    if (m_aes) {
        unsigned char stored[ZipAesCipher::kCodeLength];
        unsigned char computed[ZipAesCipher::kCodeLength];
        if (!readRaw(stored, sizeof stored))
            return -1;
        if (!m_cipher->code(computed))
            return fail(QStringLiteral("AES: the crypto library failed"));
        if (CRYPTO_memcmp(stored, computed, sizeof stored) != 0)
            return fail(QStringLiteral("authentication code mismatch: damaged data or a wrong password"));
    }
    if (m_deflated && !m_streamEnded)
        return fail(QStringLiteral("damaged data: the deflate stream is cut short"));
    if (m_produced != m_size)
        return fail(QStringLiteral("damaged data: the entry's size differs from its listing"));
    if (m_checkCrc && m_crc != m_expectedCrc)
        return fail(QStringLiteral("CRC error"));
    m_ended = true;
    return 0;
}
