#include "ZipEntrySource.h"

#include "ZipEncodeAhead.h"
#include "ZipEntryEncoder.h"
#include "platform/Logging.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <zlib.h>

namespace {

struct State final {
    ZipEntrySource::Context* context = nullptr;
    std::size_t index = 0;
    std::string buffer; // the bytes not yet read by libzip
    std::size_t at = 0;
    std::size_t nextJob = 0;
    std::size_t endJob = 0;
    bool complete = false; // all bytes made: crc and size are known
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    zip_error_t error {};

    const ZipEntry& entry() const { return (*context->entries)[index]; }

    zip_int64_t fail(const Outcome& outcome)
    {
        qCWarning(lcEngineZip, "zip writer: %s", qUtf8Printable(outcome.message));
        if (context->failure.ok())
            context->failure = outcome;
        zip_error_set(&error, ZIP_ER_READ, EIO);
        return -1;
    }

    // A stop request ends the archive between its pieces (of at most 8 MiB).
    bool stopped()
    {
        if (!context->stop.requested())
            return false;
        fail({ .status = Outcome::Status::Cancelled, .message = QStringLiteral("stopped") });
        return true;
    }

    zip_int64_t open()
    {
        if (stopped())
            return -1;
        buffer.clear();
        at = 0;
        crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
        size = 0;
        complete = false;
        nextJob = context->encodeAhead->firstJob(index);
        endJob = nextJob + context->encodeAhead->jobCount(index);
        if (endJob - nextJob == 1) {
            // A whole entry, finished by a worker.
            const std::unique_ptr<EncodedPiece> piece = context->encodeAhead->take(nextJob++);
            if (!piece->outcome.ok())
                return fail(piece->outcome);
            buffer = std::move(piece->data);
            crc = piece->crc;
            size = piece->size;
            complete = true;
            context->consumed(piece->size);
        }
        return 0;
    }

    // Joins the next piece of a large entry: one deflate stream (encrypted
    // as a whole already), one CRC.
    zip_int64_t nextPiece()
    {
        if (stopped())
            return -1;
        const std::unique_ptr<EncodedPiece> piece = context->encodeAhead->take(nextJob++);
        if (!piece->outcome.ok())
            return fail(piece->outcome);
        buffer = std::move(piece->data);
        at = 0;
        crc = static_cast<std::uint32_t>(crc32_combine64(crc, piece->crc, static_cast<z_off64_t>(piece->size)));
        size += piece->size;
        complete = nextJob == endJob;
        context->consumed(piece->size);
        return 0;
    }

    zip_int64_t read(void* data, zip_uint64_t length)
    {
        while (at == buffer.size() && !complete) {
            if (nextPiece() < 0)
                return -1;
        }
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), buffer.size() - at);
        std::memcpy(data, buffer.data() + at, n);
        at += n;
        return static_cast<zip_int64_t>(n);
    }

    zip_int64_t stat(void* data, zip_uint64_t length)
    {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error);
        if (!st)
            return -1;
        const bool deflated = ZipEntryEncoder::deflates(entry(), context->password, context->level);
        st->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        st->size = complete ? size : entry().size;
        st->comp_method = deflated ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        st->encryption_method = context->password ? ZIP_EM_AES_256 : ZIP_EM_NONE;
        // Stored data gets its CRC from libzip's own layer.
        if (complete && deflated) {
            st->valid |= ZIP_STAT_CRC;
            st->crc = crc;
        }
        return sizeof(zip_stat_t);
    }

    zip_int64_t attributes(void* data, zip_uint64_t length)
    {
        if (length < sizeof(zip_file_attributes_t)) {
            zip_error_set(&error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* attributes = static_cast<zip_file_attributes_t*>(data);
        if (!ZipEntryEncoder::deflates(entry(), context->password, context->level))
            return sizeof(zip_file_attributes_t);
        // The deflate speed bits of the general purpose flags, as zip tools set them.
        attributes->valid |= ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS | ZIP_FILE_ATTRIBUTES_VERSION_NEEDED;
        attributes->version_needed = 20;
        attributes->general_purpose_bit_mask = 0x0006;
        attributes->general_purpose_bit_flags = context->level < 3 ? 0x0004 : context->level > 7 ? 0x0002 : 0;
        return sizeof(zip_file_attributes_t);
    }
};

zip_int64_t callback(void* userdata, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* state = static_cast<State*>(userdata);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        return state->open();
    case ZIP_SOURCE_READ:
        return state->read(data, length);
    case ZIP_SOURCE_CLOSE:
        // Assigning an empty string would keep the capacity, and so every
        // entry's bytes until the archive is closed.
        std::string().swap(state->buffer);
        return 0;
    case ZIP_SOURCE_STAT:
        return state->stat(data, length);
    case ZIP_SOURCE_GET_FILE_ATTRIBUTES:
        return state->attributes(data, length);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&state->error, data, length);
    case ZIP_SOURCE_FREE:
        zip_error_fini(&state->error);
        delete state;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return ZIP_SOURCE_SUPPORTS_READABLE | zip_source_make_command_bitmap(ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
    default:
        zip_error_set(&state->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

} // namespace

zip_source_t* ZipEntrySource::create(zip_t* archive, Context* context, std::size_t index)
{
    auto* state = new State;
    state->context = context;
    state->index = index;
    zip_error_init(&state->error);
    zip_source_t* source = zip_source_function(archive, &callback, state);
    if (!source) {
        zip_error_fini(&state->error);
        delete state;
    }
    return source;
}
