#include "engine/crypto/ZipAesCipher.h"

#include "engine/crypto/Pbkdf2Sha1.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <thread>

namespace {

constexpr int kIterations = 1000;
constexpr std::size_t kBlock = 16;
constexpr std::size_t kBlocksPerCall = 4096;
// Pieces waiting for the companion thread; it keeps up easily.
constexpr std::size_t kAsideQueue = 8;

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

const EVP_CIPHER* blockCipher(int keyBits)
{
    switch (keyBits) {
    case 128:
        return EVP_aes_128_ecb();
    case 192:
        return EVP_aes_192_ecb();
    case 256:
        return EVP_aes_256_ecb();
    default:
        return nullptr;
    }
}

} // namespace

// The companion thread of decryptAside(): it feeds copies of the
// encrypted bytes to the code, in order.
struct ZipAesCipher::Aside {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<unsigned char>> queue;
    std::vector<std::vector<unsigned char>> spare;
    bool closing = false;
    bool ok = true;
    std::thread thread;

    explicit Aside(evp_mac_ctx_st* mac)
        : thread([this, mac] { run(mac); })
    {
    }

    void run(evp_mac_ctx_st* mac)
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return closing || !queue.empty(); });
            if (queue.empty())
                return;
            std::vector<unsigned char> piece = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            const bool updated = EVP_MAC_update(mac, piece.data(), piece.size()) == 1;
            lock.lock();
            ok = ok && updated;
            spare.push_back(std::move(piece));
            changed.notify_all();
        }
    }

    void push(const unsigned char* data, std::size_t length)
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return queue.size() < kAsideQueue; });
        std::vector<unsigned char> piece;
        if (!spare.empty()) {
            piece = std::move(spare.back());
            spare.pop_back();
        }
        piece.assign(data, data + length);
        queue.push_back(std::move(piece));
        changed.notify_all();
    }

    bool finish()
    {
        {
            std::lock_guard lock(mutex);
            closing = true;
        }
        changed.notify_all();
        thread.join();
        return ok;
    }
};

ZipAesCipher::ZipAesCipher()
    : m_cipher(EVP_CIPHER_CTX_new())
{
}

ZipAesCipher::~ZipAesCipher()
{
    finishAside();
    EVP_CIPHER_CTX_free(m_cipher);
    EVP_MAC_CTX_free(m_mac);
    OPENSSL_cleanse(m_keyStream.data(), m_keyStream.size());
}

bool ZipAesCipher::start(
    const std::string& password, int keyBits, const unsigned char* salt, unsigned char verifier[kVerifierLength])
{
    finishAside(); // it uses the code of the entry before
    const EVP_CIPHER* cipher = blockCipher(keyBits);
    const int keyLength = keyBits / 8;
    unsigned char keys[2 * 32 + kVerifierLength];
    const int keysLength = 2 * keyLength + static_cast<int>(kVerifierLength);
    if (!cipher || !m_cipher || !hmac())
        return false;
    Pbkdf2Sha1::derive(password.data(), password.size(), salt, saltLength(keyBits), kIterations, keys,
        static_cast<std::size_t>(keysLength));

    // One code context serves entry after entry: a new key starts it afresh.
    if (!m_mac)
        m_mac = EVP_MAC_CTX_new(hmac());
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[]
        = { OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0), OSSL_PARAM_construct_end() };
    const bool ok = m_mac && EVP_EncryptInit_ex(m_cipher, cipher, nullptr, keys, nullptr) == 1
        && EVP_CIPHER_CTX_set_padding(m_cipher, 0) == 1
        && EVP_MAC_init(m_mac, keys + keyLength, static_cast<std::size_t>(keyLength), parameters) == 1;
    std::memcpy(verifier, keys + 2 * keyLength, kVerifierLength);
    OPENSSL_cleanse(keys, sizeof keys);
    m_counter = 0;
    m_keyStreamAt = m_keyStreamLength = 0;
    return ok;
}

bool ZipAesCipher::encrypt(unsigned char* data, std::size_t length)
{
    return crypt(data, length) && EVP_MAC_update(m_mac, data, length) == 1;
}

bool ZipAesCipher::decrypt(unsigned char* data, std::size_t length)
{
    return EVP_MAC_update(m_mac, data, length) == 1 && crypt(data, length);
}

bool ZipAesCipher::decryptAside(unsigned char* data, std::size_t length)
{
    if (!m_aside)
        m_aside = std::make_unique<Aside>(m_mac);
    m_aside->push(data, length);
    return crypt(data, length);
}

bool ZipAesCipher::finishAside()
{
    if (!m_aside)
        return true;
    const bool ok = m_aside->finish();
    m_aside.reset();
    return ok;
}

bool ZipAesCipher::crypt(unsigned char* data, std::size_t length)
{
    for (std::size_t done = 0; done < length;) {
        if (m_keyStreamAt == m_keyStreamLength && !refill(length - done))
            return false;
        const std::size_t n = std::min(length - done, m_keyStreamLength - m_keyStreamAt);
        xorInto(data + done, m_keyStream.data() + m_keyStreamAt, n);
        m_keyStreamAt += n;
        done += n;
    }
    return true;
}

// Counter mode with the counter counting up from 1 in little-endian order,
// which no stock cipher mode offers: encrypt a run of counter blocks at once.
bool ZipAesCipher::refill(std::size_t wanted)
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

bool ZipAesCipher::code(unsigned char out[kCodeLength])
{
    unsigned char full[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    if (!finishAside() || EVP_MAC_final(m_mac, full, &length, sizeof full) != 1 || length < kCodeLength)
        return false;
    std::memcpy(out, full, kCodeLength);
    return true;
}
