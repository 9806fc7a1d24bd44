#pragma once

#include <cstddef>
#include <cstdint>

// PBKDF2 with HMAC-SHA1 (RFC 8018), made for the zip AES format's 1000
// iterations per entry. The HMAC inner and outer states are computed once;
// each iteration is then two runs of the SHA-1 compression function on a
// block kept in registers, and the output blocks are worked on side by side.
// Uses the processor's SHA instructions when it has them, a portable
// compression function otherwise. Any thread.
class Pbkdf2Sha1 final {
public:
    static void derive(const void* password, std::size_t passwordLength, const unsigned char* salt,
        std::size_t saltLength, unsigned iterations, unsigned char* out, std::size_t outLength);

    // Whether derive() runs on the processor's SHA instructions.
    static bool usesShaInstructions();
    // Makes derive() use the portable compression function (or not), so
    // that tests cover both on a processor with SHA instructions.
    static void setPortableForTesting(bool portable);
};
