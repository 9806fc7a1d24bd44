#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

// AES-256 encryption of one entry's stored data in the zip AE-2 format: a
// random salt and the password verifier before the data, AES in counter
// mode over the (compressed) data, and an HMAC-SHA1 code of the encrypted
// data after it.
// The key stream is made many blocks per cipher call, which keeps the cost
// of encryption small next to that of compression. Reusable entry after
// entry; one thread at a time.
class ZipAesEncryptor final {
public:
    // Bytes the encryption adds to an entry: salt, verifier and code.
    static constexpr std::size_t kOverhead = 16 + 2 + 10;

    ZipAesEncryptor();
    ~ZipAesEncryptor();
    ZipAesEncryptor(const ZipAesEncryptor&) = delete;
    ZipAesEncryptor& operator=(const ZipAesEncryptor&) = delete;

    // Derives the keys of a new entry from `password` and a fresh salt and
    // appends the salt and verifier to `out`. False when the crypto library fails.
    bool start(const std::string& password, std::string* out);
    // Encrypts `length` bytes in place; pieces may have any length.
    bool encrypt(unsigned char* data, std::size_t length);
    // Appends the authentication code to `out`.
    bool finish(std::string* out);

private:
    bool refill(std::size_t wanted);

    evp_cipher_ctx_st* m_cipher = nullptr;
    evp_mac_ctx_st* m_mac = nullptr;
    std::uint64_t m_counter = 0; // blocks used so far; the next counter block is one more
    std::vector<unsigned char> m_counters;
    std::vector<unsigned char> m_keyStream;
    std::size_t m_keyStreamAt = 0;
    std::size_t m_keyStreamLength = 0;
};
