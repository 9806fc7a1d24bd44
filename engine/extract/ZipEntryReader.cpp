#include "engine/extract/ZipEntryReader.h"

#include <algorithm>
#include <openssl/crypto.h>

namespace {

constexpr std::size_t kInputChunk = 1024 * 1024;
// Entries larger than this are authenticated on a companion thread while
// they are decrypted and inflated here.
constexpr std::uint64_t kAuthenticateAside = 4 * 1024 * 1024;

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

ZipEntryReader::ZipEntryReader(zip_t* archive)
    : m_archive(archive)
{
}

ZipEntryReader::~ZipEntryReader()
{
    close();
    if (m_inflateReady)
        inflateEnd(&m_inflate);
}

void ZipEntryReader::close()
{
    if (m_file)
        zip_fclose(m_file);
    m_file = nullptr;
    m_aes = false;
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

bool ZipEntryReader::open(zip_uint64_t index, bool encrypted, const QByteArray& password)
{
    close();
    m_wrongPassword = false;
    m_error.clear();
    zip_stat_t stat;
    const bool known
        = encrypted && zip_stat_index(m_archive, index, 0, &stat) == 0 && (stat.valid & ZIP_STAT_ENCRYPTION_METHOD);
    if (known && keyBits(stat.encryption_method) != 0 && (stat.valid & ZIP_STAT_COMP_SIZE)
        && (stat.comp_method == ZIP_CM_STORE || stat.comp_method == ZIP_CM_DEFLATE))
        return openAes(index, stat, password);
    // libzip 1.7.3 leaks the reader it set up when it then meets a cipher it
    // lacks (strong encryption, say), so such entries are refused here.
    if (known && !zip_encryption_method_supported(stat.encryption_method, 0))
        return refuse(QStringLiteral("Encryption method not supported"));

    m_file = encrypted ? zip_fopen_index_encrypted(m_archive, index, 0, password.constData())
                       : zip_fopen_index(m_archive, index, 0);
    if (!m_file) {
        m_wrongPassword = zip_error_code_zip(zip_get_error(m_archive)) == ZIP_ER_WRONGPASSWD;
        m_error = QString::fromLocal8Bit(zip_strerror(m_archive));
        return false;
    }
    return true;
}

bool ZipEntryReader::openAes(zip_uint64_t index, const zip_stat_t& stat, const QByteArray& password)
{
    const int bits = keyBits(stat.encryption_method);
    const std::size_t saltLength = ZipAesCipher::saltLength(bits);
    const std::size_t overhead = saltLength + ZipAesCipher::kVerifierLength + ZipAesCipher::kCodeLength;
    if (stat.comp_size < overhead)
        return refuse(QStringLiteral("damaged AES entry"));
    // The bytes as stored: salt, verifier, encrypted data, code.
    m_file = zip_fopen_index(m_archive, index, ZIP_FL_ENCRYPTED);
    if (!m_file)
        return refuse(QString::fromLocal8Bit(zip_strerror(m_archive)));
    m_aes = true;
    m_dataLeft = stat.comp_size - overhead;
    m_authenticateAside = m_dataLeft > kAuthenticateAside;

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

    m_deflated = stat.comp_method == ZIP_CM_DEFLATE;
    // AE-1 entries keep the CRC; AE-2 entries leave it zero and rely on the
    // code alone. libzip hides the field that tells them apart.
    m_checkCrc = (stat.valid & ZIP_STAT_CRC) && stat.crc != 0;
    m_expectedCrc = stat.crc;
    m_crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    m_streamEnded = m_ended = false;
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
    if (!m_aes) {
        const zip_int64_t n = zip_fread(m_file, data, static_cast<zip_uint64_t>(size));
        if (n < 0)
            m_error = QString::fromLocal8Bit(zip_file_strerror(m_file));
        return n;
    }
    const qint64 n = readAes(data, size);
    // AE-2 entries carry no CRC: their code alone authenticates them.
    if (n > 0 && m_checkCrc)
        m_crc = static_cast<std::uint32_t>(crc32(m_crc, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(n)));
    return n;
}

qint64 ZipEntryReader::readAes(char* data, qint64 size)
{
    auto* out = reinterpret_cast<unsigned char*>(data);
    const auto wanted = static_cast<std::size_t>(std::min<qint64>(size, kInputChunk));
    if (!m_deflated) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, m_dataLeft));
        if (n == 0)
            return finishAes();
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
            return finishAes();
        // Refill; what follows the end of the deflate stream is still authenticated.
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kInputChunk, m_dataLeft));
        m_input.resize(kInputChunk);
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
    return m_authenticateAside ? m_cipher->decryptAside(data, size) : m_cipher->decrypt(data, size);
}

// All data read: the code (and for AE-1 the CRC) must confirm it.
qint64 ZipEntryReader::finishAes()
{
    if (m_ended)
        return 0;
    unsigned char stored[ZipAesCipher::kCodeLength];
    unsigned char computed[ZipAesCipher::kCodeLength];
    if (!readRaw(stored, sizeof stored))
        return -1;
    if (!m_cipher->code(computed))
        return fail(QStringLiteral("AES: the crypto library failed"));
    if (CRYPTO_memcmp(stored, computed, sizeof stored) != 0)
        return fail(QStringLiteral("authentication code mismatch: damaged data or a wrong password"));
    if (m_deflated && !m_streamEnded)
        return fail(QStringLiteral("damaged data: the deflate stream is cut short"));
    if (m_checkCrc && m_crc != m_expectedCrc)
        return fail(QStringLiteral("CRC error"));
    m_ended = true;
    return 0;
}
