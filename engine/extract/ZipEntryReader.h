#pragma once

#include "engine/crypto/ZipAesCipher.h"
#include "platform/Outcome.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>
#include <zip.h>
#include <zlib.h>

struct libdeflate_decompressor;

// One entry's content as read from a zip archive, checked before the end is
// reported. Stored and deflated entries, plain or AES (AE-1, AE-2), are
// taken from libzip as they lie in the archive and decrypted, inflated and
// checked here: libzip 1.7.3 checks a CRC that AE-2 entries leave zero and
// their authentication code only when a reader asks past the end, and
// decoding here lets readers on several threads share one archive. libzip
// decodes the rest (ZipCrypto, other methods). One entry at a time; one
// thread per reader.
class ZipEntryReader final {
public:
    // Entries up to this size are read whole by readWhole().
    static constexpr std::uint64_t kWholeLimit = 8 * 1024 * 1024;

    // `archiveLock`, when given, is held around every call into libzip, so
    // that readers on several threads can share `archive`.
    explicit ZipEntryReader(zip_t* archive, std::mutex* archiveLock = nullptr);
    ~ZipEntryReader();
    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;

    // Opens entry `index`, with `password` when it is encrypted.
    // WrongPassword when the password is refused, Unsupported for a method
    // neither libzip nor this class decodes, Damaged otherwise.
    Outcome open(zip_uint64_t index, bool encrypted, const QByteArray& password);
    // Up to `size` bytes of content. 0 at the end, once the checksum or the
    // authentication code has confirmed the whole content; -1 on an error
    // (failure() tells it).
    qint64 read(char* data, qint64 size);
    // Whether the open entry is small enough for readWhole(), which is
    // then much faster than read().
    bool canReadWhole() const;
    // The whole content of the open entry, checked. Only when
    // canReadWhole(), and instead of read().
    Outcome readWhole(std::vector<char>* out);
    void close();

    // Why the last read failed: damaged data (or, before the password is
    // confirmed, a wrong one).
    Outcome failure() const { return { .status = Outcome::Status::Damaged, .message = m_error }; }

private:
    std::unique_lock<std::mutex> lockArchive() const;
    bool openEntry(zip_uint64_t index, bool encrypted, const QByteArray& password);
    bool readAll(std::vector<char>* out);
    bool openRaw(zip_uint64_t index, const zip_stat_t& stat, bool aes, const QByteArray& password);
    bool readRaw(unsigned char* data, std::size_t size);
    qint64 readOwn(char* data, qint64 size);
    qint64 finish();
    bool decrypt(unsigned char* data, std::size_t size);
    qint64 fail(const QString& message);
    bool refuse(const QString& message);

    zip_t* m_archive;
    std::mutex* m_archiveLock;
    zip_file_t* m_file = nullptr;
    bool m_wrongPassword = false;
    bool m_unsupported = false;
    QString m_error;

    // An entry decoded here rather than by libzip.
    bool m_own = false;
    bool m_aes = false;
    bool m_deflated = false;
    bool m_checkCrc = false;
    bool m_authenticateAside = false;
    bool m_streamEnded = false;
    bool m_ended = false;
    std::uint32_t m_expectedCrc = 0;
    std::uint32_t m_crc = 0;
    std::uint64_t m_size = 0; // content size as listed
    std::uint64_t m_produced = 0; // content bytes handed out
    std::uint64_t m_dataLeft = 0; // stored bytes not read yet, an AES code not counted
    std::unique_ptr<ZipAesCipher> m_cipher;
    z_stream m_inflate {};
    bool m_inflateReady = false;
    libdeflate_decompressor* m_decompressor = nullptr;
    std::vector<unsigned char> m_input;
};
