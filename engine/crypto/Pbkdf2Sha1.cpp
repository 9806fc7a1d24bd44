// The portable path runs the block function of OpenSSL's old SHA-1
// interface, the only one that runs a single compression (on the library's
// best code for the processor).
#define OPENSSL_SUPPRESS_DEPRECATED
#include "engine/crypto/Pbkdf2Sha1.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define ZAVRIN_SHA_X86 1
#endif

namespace {

constexpr std::size_t kBlockBytes = 64;
constexpr std::size_t kDigestBytes = 20;
constexpr std::uint32_t kInitial[5] = { 0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u };
// The length word of a block that ends a message of one key block plus one digest, in bits.
constexpr std::uint32_t kIterationBits = (kBlockBytes + kDigestBytes) * 8;

std::uint32_t loadBig(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void storeBig(unsigned char* p, std::uint32_t x)
{
    p[0] = static_cast<unsigned char>(x >> 24);
    p[1] = static_cast<unsigned char>(x >> 16);
    p[2] = static_cast<unsigned char>(x >> 8);
    p[3] = static_cast<unsigned char>(x);
}

// The SHA-1 compression function on a block given as its sixteen words.
void compressPortable(std::uint32_t h[5], const std::uint32_t block[16])
{
    SHA_CTX context {};
    context.h0 = h[0];
    context.h1 = h[1];
    context.h2 = h[2];
    context.h3 = h[3];
    context.h4 = h[4];
    unsigned char bytes[kBlockBytes];
    for (int i = 0; i < 16; ++i)
        storeBig(bytes + 4 * i, block[i]);
    SHA1_Transform(&context, bytes);
    h[0] = context.h0;
    h[1] = context.h1;
    h[2] = context.h2;
    h[3] = context.h3;
    h[4] = context.h4;
}

using Compress = void (*)(std::uint32_t h[5], const std::uint32_t block[16]);
// Runs iterations 2…count of the output blocks in `u` (each U1 on entry),
// XORing each U into `t`.
using Iterate = void (*)(const std::uint32_t inner[5], const std::uint32_t outer[5], std::uint32_t (*u)[5],
    std::uint32_t (*t)[5], std::size_t blocks, unsigned count);

void iteratePortable(const std::uint32_t inner[5], const std::uint32_t outer[5], std::uint32_t (*u)[5],
    std::uint32_t (*t)[5], std::size_t blocks, unsigned count)
{
    std::uint32_t block[16] = {};
    block[5] = 0x80000000u;
    block[15] = kIterationBits;
    for (std::size_t b = 0; b < blocks; ++b) {
        for (unsigned i = 1; i < count; ++i) {
            std::uint32_t h[5];
            std::memcpy(block, u[b], sizeof u[b]);
            std::memcpy(h, inner, sizeof h);
            compressPortable(h, block);
            std::memcpy(block, h, sizeof h);
            std::memcpy(u[b], outer, sizeof u[b]);
            compressPortable(u[b], block);
            for (int k = 0; k < 5; ++k)
                t[b][k] ^= u[b][k];
        }
    }
}

#ifdef ZAVRIN_SHA_X86

#define ZAVRIN_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// One compression with the SHA instructions. The state is kept as the
// instructions want it: `abcd` holds A in its highest lane down to D in its
// lowest, `e` holds E in its highest lane and zeros below. The message words
// come four to a vector, the first in the highest lane.
ZAVRIN_SHA_TARGET inline __attribute__((always_inline)) void shaBlock(
    __m128i& abcd, __m128i& e, __m128i m0, __m128i m1, __m128i m2, __m128i m3)
{
    const __m128i abcdSaved = abcd;
    const __m128i eSaved = e;
    __m128i e0 = _mm_add_epi32(e, m0);
    __m128i e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0); // 0-3
    e1 = _mm_sha1nexte_epu32(e1, m1);
    e0 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 0); // 4-7
    m0 = _mm_sha1msg1_epu32(m0, m1);
    e0 = _mm_sha1nexte_epu32(e0, m2);
    e1 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 0); // 8-11
    m1 = _mm_sha1msg1_epu32(m1, m2);
    m0 = _mm_xor_si128(m0, m2);
    e1 = _mm_sha1nexte_epu32(e1, m3);
    e0 = abcd;
    m0 = _mm_sha1msg2_epu32(m0, m3);
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 0); // 12-15
    m2 = _mm_sha1msg1_epu32(m2, m3);
    m1 = _mm_xor_si128(m1, m3);

// Four rounds with message vectors a (for E), b (scheduled), c (first
// schedule step) and d (XORed), as the instructions' data flow needs.
#define ZAVRIN_ROUNDS(eIn, eOut, a, b, c, d, f)                                                                        \
    eIn = _mm_sha1nexte_epu32(eIn, a);                                                                                 \
    eOut = abcd;                                                                                                       \
    b = _mm_sha1msg2_epu32(b, a);                                                                                      \
    abcd = _mm_sha1rnds4_epu32(abcd, eIn, f);                                                                          \
    c = _mm_sha1msg1_epu32(c, a);                                                                                      \
    d = _mm_xor_si128(d, a);

    ZAVRIN_ROUNDS(e0, e1, m0, m1, m3, m2, 0) // 16-19
    ZAVRIN_ROUNDS(e1, e0, m1, m2, m0, m3, 1) // 20-23
    ZAVRIN_ROUNDS(e0, e1, m2, m3, m1, m0, 1) // 24-27
    ZAVRIN_ROUNDS(e1, e0, m3, m0, m2, m1, 1) // 28-31
    ZAVRIN_ROUNDS(e0, e1, m0, m1, m3, m2, 1) // 32-35
    ZAVRIN_ROUNDS(e1, e0, m1, m2, m0, m3, 1) // 36-39
    ZAVRIN_ROUNDS(e0, e1, m2, m3, m1, m0, 2) // 40-43
    ZAVRIN_ROUNDS(e1, e0, m3, m0, m2, m1, 2) // 44-47
    ZAVRIN_ROUNDS(e0, e1, m0, m1, m3, m2, 2) // 48-51
    ZAVRIN_ROUNDS(e1, e0, m1, m2, m0, m3, 2) // 52-55
    ZAVRIN_ROUNDS(e0, e1, m2, m3, m1, m0, 2) // 56-59
    ZAVRIN_ROUNDS(e1, e0, m3, m0, m2, m1, 3) // 60-63
    ZAVRIN_ROUNDS(e0, e1, m0, m1, m3, m2, 3) // 64-67
#undef ZAVRIN_ROUNDS
    e1 = _mm_sha1nexte_epu32(e1, m1); // 68-71
    e0 = abcd;
    m2 = _mm_sha1msg2_epu32(m2, m1);
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);
    m3 = _mm_xor_si128(m3, m1);
    e0 = _mm_sha1nexte_epu32(e0, m2); // 72-75
    e1 = abcd;
    m3 = _mm_sha1msg2_epu32(m3, m2);
    abcd = _mm_sha1rnds4_epu32(abcd, e0, 3);
    e1 = _mm_sha1nexte_epu32(e1, m3); // 76-79
    e0 = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);

    e = _mm_sha1nexte_epu32(e0, eSaved);
    abcd = _mm_add_epi32(abcd, abcdSaved);
}

ZAVRIN_SHA_TARGET void compressSha(std::uint32_t h[5], const std::uint32_t block[16])
{
    __m128i abcd
        = _mm_set_epi32(static_cast<int>(h[0]), static_cast<int>(h[1]), static_cast<int>(h[2]), static_cast<int>(h[3]));
    __m128i e = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    const auto words = [&](int i) {
        return _mm_set_epi32(static_cast<int>(block[i]), static_cast<int>(block[i + 1]), static_cast<int>(block[i + 2]),
            static_cast<int>(block[i + 3]));
    };
    shaBlock(abcd, e, words(0), words(4), words(8), words(12));
    h[0] = static_cast<std::uint32_t>(_mm_extract_epi32(abcd, 3));
    h[1] = static_cast<std::uint32_t>(_mm_extract_epi32(abcd, 2));
    h[2] = static_cast<std::uint32_t>(_mm_extract_epi32(abcd, 1));
    h[3] = static_cast<std::uint32_t>(_mm_extract_epi32(abcd, 0));
    h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

// The iterations of up to four output blocks at once, in registers: the
// blocks are independent, so the processor overlaps their instructions.
template <int Lanes>
ZAVRIN_SHA_TARGET void iterateShaLanes(const std::uint32_t inner[5], const std::uint32_t outer[5],
    std::uint32_t (*u)[5], std::uint32_t (*t)[5], unsigned count)
{
    const auto load = [](const std::uint32_t h[5], __m128i& abcd, __m128i& e) {
        abcd = _mm_set_epi32(
            static_cast<int>(h[0]), static_cast<int>(h[1]), static_cast<int>(h[2]), static_cast<int>(h[3]));
        e = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    };
    __m128i innerAbcd, innerE, outerAbcd, outerE;
    load(inner, innerAbcd, innerE);
    load(outer, outerAbcd, outerE);
    // Padding of a one-digest message after a key block: 0x80 after the
    // digest, the length in bits in the last word.
    const __m128i pad = _mm_set_epi32(0, static_cast<int>(0x80000000u), 0, 0);
    const __m128i zero = _mm_setzero_si128();
    const __m128i length = _mm_set_epi32(0, 0, 0, static_cast<int>(kIterationBits));
    __m128i uAbcd[Lanes], uE[Lanes], tAbcd[Lanes], tE[Lanes];
    for (int l = 0; l < Lanes; ++l) {
        load(u[l], uAbcd[l], uE[l]);
        tAbcd[l] = uAbcd[l];
        tE[l] = uE[l];
    }
    for (unsigned i = 1; i < count; ++i) {
        for (int l = 0; l < Lanes; ++l) {
            __m128i abcd = innerAbcd;
            __m128i e = innerE;
            shaBlock(abcd, e, uAbcd[l], _mm_or_si128(uE[l], pad), zero, length);
            uAbcd[l] = outerAbcd;
            uE[l] = outerE;
            shaBlock(uAbcd[l], uE[l], abcd, _mm_or_si128(e, pad), zero, length);
            tAbcd[l] = _mm_xor_si128(tAbcd[l], uAbcd[l]);
            tE[l] = _mm_xor_si128(tE[l], uE[l]);
        }
    }
    for (int l = 0; l < Lanes; ++l) {
        t[l][0] = static_cast<std::uint32_t>(_mm_extract_epi32(tAbcd[l], 3));
        t[l][1] = static_cast<std::uint32_t>(_mm_extract_epi32(tAbcd[l], 2));
        t[l][2] = static_cast<std::uint32_t>(_mm_extract_epi32(tAbcd[l], 1));
        t[l][3] = static_cast<std::uint32_t>(_mm_extract_epi32(tAbcd[l], 0));
        t[l][4] = static_cast<std::uint32_t>(_mm_extract_epi32(tE[l], 3));
    }
}

void iterateSha(const std::uint32_t inner[5], const std::uint32_t outer[5], std::uint32_t (*u)[5],
    std::uint32_t (*t)[5], std::size_t blocks, unsigned count)
{
    for (std::size_t b = 0; b < blocks; b += 4) {
        switch (std::min<std::size_t>(4, blocks - b)) {
        case 4:
            iterateShaLanes<4>(inner, outer, u + b, t + b, count);
            break;
        case 3:
            iterateShaLanes<3>(inner, outer, u + b, t + b, count);
            break;
        case 2:
            iterateShaLanes<2>(inner, outer, u + b, t + b, count);
            break;
        default:
            iterateShaLanes<1>(inner, outer, u + b, t + b, count);
            break;
        }
    }
}

bool processorHasSha()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    const bool ssse3 = c & (1u << 9);
    const bool sse41 = c & (1u << 19);
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return ssse3 && sse41 && (b & (1u << 29));
}

#else

bool processorHasSha()
{
    return false;
}

#endif

const bool kHasSha = processorHasSha();
std::atomic<bool> g_portable { false };

struct Functions final {
    Compress compress;
    Iterate iterate;
};

Functions functions()
{
#ifdef ZAVRIN_SHA_X86
    if (kHasSha && !g_portable.load(std::memory_order_relaxed))
        return { compressSha, iterateSha };
#endif
    return { compressPortable, iteratePortable };
}

// Hashes `length` bytes after `before` bytes already compressed into `h`,
// then the padding.
void hashRest(
    Compress compress, std::uint32_t h[5], std::uint64_t before, const unsigned char* data, std::size_t length)
{
    std::uint32_t words[16];
    const std::uint64_t bits = (before + length) * 8;
    for (; length >= kBlockBytes; data += kBlockBytes, length -= kBlockBytes) {
        for (int i = 0; i < 16; ++i)
            words[i] = loadBig(data + 4 * i);
        compress(h, words);
    }
    unsigned char last[2 * kBlockBytes] = {};
    std::memcpy(last, data, length);
    last[length] = 0x80;
    const std::size_t total = length + 9 <= kBlockBytes ? kBlockBytes : 2 * kBlockBytes;
    for (int i = 0; i < 8; ++i)
        last[total - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
    for (std::size_t at = 0; at < total; at += kBlockBytes) {
        for (int i = 0; i < 16; ++i)
            words[i] = loadBig(last + at + 4 * i);
        compress(h, words);
    }
    OPENSSL_cleanse(last, sizeof last);
}

} // namespace

bool Pbkdf2Sha1::usesShaInstructions()
{
    return kHasSha && !g_portable.load(std::memory_order_relaxed);
}

void Pbkdf2Sha1::setPortableForTesting(bool portable)
{
    g_portable.store(portable, std::memory_order_relaxed);
}

void Pbkdf2Sha1::derive(const void* password, std::size_t passwordLength, const unsigned char* salt,
    std::size_t saltLength, unsigned iterations, unsigned char* out, std::size_t outLength)
{
    const Functions f = functions();
    // The HMAC key: the password, or its digest when longer than a block.
    unsigned char key[kBlockBytes] = {};
    if (passwordLength > kBlockBytes) {
        unsigned int digestLength = 0;
        EVP_Digest(password, passwordLength, key, &digestLength, EVP_sha1(), nullptr);
    } else if (passwordLength > 0) {
        std::memcpy(key, password, passwordLength);
    }
    std::uint32_t inner[5], outer[5], words[16];
    std::memcpy(inner, kInitial, sizeof inner);
    std::memcpy(outer, kInitial, sizeof outer);
    for (int i = 0; i < 16; ++i)
        words[i] = loadBig(key + 4 * i) ^ 0x36363636u;
    f.compress(inner, words);
    for (int i = 0; i < 16; ++i)
        words[i] = loadBig(key + 4 * i) ^ 0x5C5C5C5Cu;
    f.compress(outer, words);

    // U1 of each output block: HMAC(salt || block number).
    const std::size_t blocks = (outLength + kDigestBytes - 1) / kDigestBytes;
    constexpr std::size_t kMaxBlocks = 16;
    std::uint32_t u[kMaxBlocks][5], t[kMaxBlocks][5];
    std::vector<unsigned char> message(saltLength + 4);
    if (saltLength > 0)
        std::memcpy(message.data(), salt, saltLength);
    for (std::size_t done = 0; done < blocks; done += kMaxBlocks) {
        const std::size_t count = std::min(kMaxBlocks, blocks - done);
        for (std::size_t b = 0; b < count; ++b) {
            std::uint32_t h[5];
            std::memcpy(h, inner, sizeof h);
            storeBig(message.data() + saltLength, static_cast<std::uint32_t>(done + b + 1));
            hashRest(f.compress, h, kBlockBytes, message.data(), message.size());
            unsigned char digest[kDigestBytes];
            for (int k = 0; k < 5; ++k)
                storeBig(digest + 4 * k, h[k]);
            std::memcpy(u[b], outer, sizeof u[b]);
            hashRest(f.compress, u[b], kBlockBytes, digest, sizeof digest);
            std::memcpy(t[b], u[b], sizeof t[b]);
        }
        f.iterate(inner, outer, u, t, count, std::max(iterations, 1u));
        for (std::size_t b = 0; b < count; ++b) {
            unsigned char bytes[kDigestBytes];
            for (int k = 0; k < 5; ++k)
                storeBig(bytes + 4 * k, t[b][k]);
            const std::size_t at = (done + b) * kDigestBytes;
            std::memcpy(out + at, bytes, std::min(kDigestBytes, outLength - at));
            OPENSSL_cleanse(bytes, sizeof bytes);
        }
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(u, sizeof u);
    OPENSSL_cleanse(t, sizeof t);
    OPENSSL_cleanse(inner, sizeof inner);
    OPENSSL_cleanse(outer, sizeof outer);
}
