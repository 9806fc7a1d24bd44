#include "engine/ZipAesEncryptor.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kKeyLength = 32;
constexpr int kSaltLength = 16;
constexpr int kVerifierLength = 2;
constexpr std::size_t kMacLength = 10;
constexpr int kIterations = 1000;
constexpr std::size_t kBlock = 16;
constexpr std::size_t kBlocksPerCall = 4096;

// XORs the key stream into the data eight bytes at a time.
void xorInto(unsigned char* data, const unsigned char* key, std::size_t length)
{
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t a = 0;
        std::uint64_t b = 0;
        std::memcpy(&a, data + i, 8);
        std::memcpy(&b, key + i, 8);
        a ^= b;
        std::memcpy(data + i, &a, 8);
    }
    for (; i < length; ++i)
        data[i] ^= key[i];
}

EVP_MAC* hmac()
{
    static EVP_MAC* const mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    return mac;
}

} // namespace

ZipAesEncryptor::ZipAesEncryptor()
    : m_cipher(EVP_CIPHER_CTX_new())
{
}

ZipAesEncryptor::~ZipAesEncryptor()
{
    EVP_CIPHER_CTX_free(m_cipher);
    EVP_MAC_CTX_free(m_mac);
    OPENSSL_cleanse(m_keyStream.data(), m_keyStream.size());
}

bool ZipAesEncryptor::start(const std::string& password, std::string* out)
{
    // Every entry gets its own salt, and so its own keys: entries share the
    // counter's starting value, so a shared key would reuse the key stream.
    unsigned char salt[kSaltLength];
    unsigned char keys[2 * kKeyLength + kVerifierLength];
    if (!m_cipher || !hmac() || RAND_bytes(salt, kSaltLength) != 1
        || PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt, kSaltLength,
                                  kIterations, sizeof keys, keys)
            != 1)
        return false;

    EVP_MAC_CTX_free(m_mac);
    m_mac = EVP_MAC_CTX_new(hmac());
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
    const bool ok = m_mac && EVP_EncryptInit_ex(m_cipher, EVP_aes_256_ecb(), nullptr, keys, nullptr) == 1
        && EVP_CIPHER_CTX_set_padding(m_cipher, 0) == 1
        && EVP_MAC_init(m_mac, keys + kKeyLength, kKeyLength, parameters) == 1;
    if (ok) {
        out->append(reinterpret_cast<const char*>(salt), kSaltLength);
        out->append(reinterpret_cast<const char*>(keys + 2 * kKeyLength), kVerifierLength);
    }
    OPENSSL_cleanse(keys, sizeof keys);
    m_counter = 0;
    m_keyStreamAt = m_keyStreamLength = 0;
    return ok;
}

bool ZipAesEncryptor::encrypt(unsigned char* data, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        if (m_keyStreamAt == m_keyStreamLength && !refill(length - done))
            return false;
        const std::size_t n = std::min(length - done, m_keyStreamLength - m_keyStreamAt);
        xorInto(data + done, m_keyStream.data() + m_keyStreamAt, n);
        m_keyStreamAt += n;
        done += n;
    }
    return EVP_MAC_update(m_mac, data, length) == 1;
}

// Counter mode with the counter counting up from 1 in little-endian order,
// which no stock cipher mode offers: encrypt a run of counter blocks at once.
bool ZipAesEncryptor::refill(std::size_t wanted)
{
    const std::size_t blocks = std::min(kBlocksPerCall, (wanted + kBlock - 1) / kBlock);
    // Only the first eight bytes of a counter block count; the rest stay zero.
    m_counters.resize(kBlocksPerCall * kBlock);
    m_keyStream.resize(kBlocksPerCall * kBlock);
    for (std::size_t b = 0; b < blocks; ++b) {
        ++m_counter;
        unsigned char* block = m_counters.data() + b * kBlock;
        for (int i = 0; i < 8; ++i)
            block[i] = static_cast<unsigned char>(m_counter >> (8 * i));
    }
    int length = 0;
    if (EVP_EncryptUpdate(m_cipher, m_keyStream.data(), &length, m_counters.data(), static_cast<int>(blocks * kBlock))
            != 1
        || static_cast<std::size_t>(length) != blocks * kBlock)
        return false;
    m_keyStreamAt = 0;
    m_keyStreamLength = blocks * kBlock;
    return true;
}

bool ZipAesEncryptor::finish(std::string* out)
{
    unsigned char code[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (EVP_MAC_final(m_mac, code, &length, sizeof code) != 1 || length < kMacLength)
        return false;
    out->append(reinterpret_cast<const char*>(code), kMacLength);
    return true;
}
