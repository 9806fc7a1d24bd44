#pragma once

#include "engine/crypto/ZipAesCipher.h"

#include <cstddef>
#include <string>

// AES-256 encryption of one entry's stored data in the zip AE-2 format: a
// random salt and the password verifier before the data, the data
// encrypted, and the authentication code after it. Reusable entry after
// entry; one thread at a time.
class ZipAesEncryptor final {
public:
    // Bytes the encryption adds to an entry: salt, verifier and code.
    static constexpr std::size_t kOverhead
        = ZipAesCipher::saltLength(256) + ZipAesCipher::kVerifierLength + ZipAesCipher::kCodeLength;

    // Derives the keys of a new entry from `password` and a fresh salt and
    // appends the salt and verifier to `out`. False when the crypto library fails.
    bool start(const std::string& password, std::string* out);
    // Encrypts `length` bytes in place; pieces may have any length.
    bool encrypt(unsigned char* data, std::size_t length) { return m_cipher.encrypt(data, length); }
    // Appends the authentication code to `out`.
    bool finish(std::string* out);

private:
    ZipAesCipher m_cipher;
};
