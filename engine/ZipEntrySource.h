#pragma once

#include "engine/ZipEntryList.h"

#include <zip.h>

#include <cstddef>
#include <string>
#include <vector>

class ZipEncodeAhead;
class ZipEntryEncoder;

// The libzip source of one file or link entry. It hands libzip the bytes to
// store, already compressed (and encrypted), with their CRC and size, so
// that libzip only lays out the headers around them: the compressing
// happens in ZipEntryEncoder, on worker threads when ZipEncodeAhead took
// the entry, or here on the writing thread for the large ones.
class ZipEntrySource final {
public:
    // Shared by all entries of one archive; must outlive zip_close.
    struct Context final {
        const std::vector<ZipEntry>* entries = nullptr;
        const std::vector<bool>* ahead = nullptr; // encoded by `encodeAhead`
        ZipEncodeAhead* encodeAhead = nullptr;
        ZipEntryEncoder* streamer = nullptr;      // for the others, on the writing thread
        int level = 1;
        const std::string* password = nullptr;
    };

    // A source for entry `index`, owned by libzip once added.
    static zip_source_t* create(zip_t* archive, const Context* context, std::size_t index);
};
