#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

// The cipher of one zip entry in the zip AES format (AE-1 and AE-2 use
// the same one): keys derived from the password and the entry's salt by
// PBKDF2-HMAC-SHA1, AES in counter mode with a little-endian counter that
// starts at 1, and an HMAC-SHA1 code over the encrypted bytes, cut to ten
// bytes. The key stream is made many blocks per cipher call. Reusable entry
// after entry; one thread at a time.
class ZipAesCipher final {
public:
    static constexpr std::size_t kVerifierLength = 2;
    static constexpr std::size_t kCodeLength = 10;
    // The salt is half as long as the key: 8, 12 or 16 bytes.
    static constexpr std::size_t saltLength(int keyBits) { return static_cast<std::size_t>(keyBits) / 16; }

    ZipAesCipher();
    ~ZipAesCipher();
    ZipAesCipher(const ZipAesCipher&) = delete;
    ZipAesCipher& operator=(const ZipAesCipher&) = delete;

    // Derives the keys of an entry (`keyBits` 128, 192 or 256; `salt` of
    // saltLength bytes) and gives the password verifier stored beside the
    // salt. False when the crypto library fails.
    bool start(
        const std::string& password, int keyBits, const unsigned char* salt, unsigned char verifier[kVerifierLength]);
    // In place; pieces may have any length. Both feed the code.
    bool encrypt(unsigned char* data, std::size_t length);
    bool decrypt(unsigned char* data, std::size_t length);
    // As decrypt(), but the code is computed on a companion thread from a
    // copy of the bytes, so that authenticating a large entry takes no time
    // on this one. Do not mix with decrypt() in one entry.
    bool decryptAside(unsigned char* data, std::size_t length);
    // The authentication code of everything encrypted or decrypted since
    // start(); waits for the companion thread.
    bool code(unsigned char out[kCodeLength]);

private:
    struct Aside;
    bool crypt(unsigned char* data, std::size_t length);
    bool refill(std::size_t wanted);
    // Ends the companion thread, if any; false when a code update failed.
    bool finishAside();

    evp_cipher_ctx_st* m_cipher = nullptr;
    evp_mac_ctx_st* m_mac = nullptr;
    std::uint64_t m_counter = 0; // blocks used so far; the next counter block is one more
    std::vector<unsigned char> m_counters;
    std::vector<unsigned char> m_keyStream;
    std::size_t m_keyStreamAt = 0;
    std::size_t m_keyStreamLength = 0;
    std::unique_ptr<Aside> m_aside;
};
