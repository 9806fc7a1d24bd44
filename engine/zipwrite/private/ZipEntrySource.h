#pragma once

#include "engine/StopToken.h"
#include "engine/zipwrite/ZipEntryList.h"
#include "platform/Outcome.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>
#include <zip.h>

class ZipEncodeAhead;

// The libzip source of one file or link entry. It hands libzip the bytes to
// store, already compressed (and encrypted), with their CRC and size, so
// that libzip only lays out the headers around them. The compressing and
// encrypting are done by ZipEncodeAhead's workers; the pieces of a large
// entry are joined here.
class ZipEntrySource final {
public:
    // Shared by all entries of one archive; must outlive zip_close.
    struct Context final {
        const std::vector<ZipEntry>* entries = nullptr;
        ZipEncodeAhead* encodeAhead = nullptr;
        int level = 1;
        const std::string* password = nullptr;
        StopToken stop;
        // Told the content bytes of every piece handed to libzip, for progress.
        std::function<void(std::uint64_t contentBytes)> consumed;
        Outcome failure; // the first entry's failure, set on the writing thread
    };

    // A source for entry `index`, owned by libzip once added.
    static zip_source_t* create(zip_t* archive, Context* context, std::size_t index);
};
