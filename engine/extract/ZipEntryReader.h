#pragma once

#include "engine/ZipAesCipher.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>
#include <zip.h>
#include <zlib.h>

// One entry's content as read from a zip archive, checked before the end is
// reported. libzip reads most entries. AES entries (AE-1, AE-2), stored or
// deflated, are taken from libzip as they lie in the archive and
// authenticated, decrypted and inflated here: libzip 1.7.3 checks their CRC
// field even in AE-2 entries, which leave it zero, and checks their
// authentication code only when a reader asks past the end. One entry at a
// time; one thread.
class ZipEntryReader final {
public:
    explicit ZipEntryReader(zip_t* archive);
    ~ZipEntryReader();
    ZipEntryReader(const ZipEntryReader&) = delete;
    ZipEntryReader& operator=(const ZipEntryReader&) = delete;

    // Opens entry `index`, with `password` when it is encrypted. False with
    // errorString() set; wrongPassword() tells whether the password was refused.
    bool open(zip_uint64_t index, bool encrypted, const QByteArray& password);
    // Up to `size` bytes of content. 0 at the end, once the checksum or the
    // authentication code has confirmed the whole content; -1 on an error.
    qint64 read(char* data, qint64 size);
    void close();

    bool wrongPassword() const { return m_wrongPassword; }
    QString errorString() const { return m_error; }

private:
    bool openAes(zip_uint64_t index, const zip_stat_t& stat, const QByteArray& password);
    bool readRaw(unsigned char* data, std::size_t size);
    qint64 readAes(char* data, qint64 size);
    qint64 finishAes();
    bool decrypt(unsigned char* data, std::size_t size);
    qint64 fail(const QString& message);
    bool refuse(const QString& message);

    zip_t* m_archive;
    zip_file_t* m_file = nullptr;
    bool m_wrongPassword = false;
    QString m_error;

    // An AES entry read here.
    bool m_aes = false;
    bool m_deflated = false;
    bool m_checkCrc = false;
    bool m_authenticateAside = false;
    bool m_streamEnded = false;
    bool m_ended = false;
    std::uint32_t m_expectedCrc = 0;
    std::uint32_t m_crc = 0;
    std::uint64_t m_dataLeft = 0; // encrypted bytes not read yet, the code not counted
    std::unique_ptr<ZipAesCipher> m_cipher;
    z_stream m_inflate {};
    bool m_inflateReady = false;
    std::vector<unsigned char> m_input;
};
