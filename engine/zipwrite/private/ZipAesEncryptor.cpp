#include "ZipAesEncryptor.h"

#include <openssl/rand.h>

bool ZipAesEncryptor::start(const std::string& password, std::string* out)
{
    // Every entry gets its own salt, and so its own keys: entries share the
    // counter's starting value, so a shared key would reuse the key stream.
    unsigned char salt[ZipAesCipher::saltLength(256)];
    unsigned char verifier[ZipAesCipher::kVerifierLength];
    if (RAND_bytes(salt, sizeof salt) != 1 || !m_cipher.start(password, 256, salt, verifier))
        return false;
    out->append(reinterpret_cast<const char*>(salt), sizeof salt);
    out->append(reinterpret_cast<const char*>(verifier), sizeof verifier);
    return true;
}

bool ZipAesEncryptor::finish(std::string* out)
{
    unsigned char code[ZipAesCipher::kCodeLength];
    if (!m_cipher.code(code))
        return false;
    out->append(reinterpret_cast<const char*>(code), sizeof code);
    return true;
}
