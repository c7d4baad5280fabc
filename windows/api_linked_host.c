/*
 * A host linked with tavrine.dll at load time through tavrine.lib, as a
 * Microsoft toolchain links it: it calls every export of tavrine_api.h (and
 * ZOLT_Encode, whose __stdcall name the library maps on 32-bit x86), so the
 * program loads only if every import resolves, and a call bound to another
 * function fails a check.
 *
 * It uses no C runtime (compiled with TAVRINE_HOST_WITHOUT_CRT: the process
 * starts at hostEntry), as linked_host.c. The exit status is 0, or the number
 * of the first failed check.
 */
#include "tavrine_api.h"

enum { kTextLength = 48, kRoom = 1024 };
static const unsigned char kText[kTextLength + 1] = "abracadabra, abracadabra, abracadabra, abracadab";
static unsigned char stream[kRoom];
static unsigned char restored[kRoom];
static unsigned char pieces[kRoom];

static int sameBytes(const unsigned char *a, const unsigned char *b, size_t length) {
    size_t i;
    for (i = 0; i < length; ++i) {
        if (a[i] != b[i]) return 0;
    }
    return 1;
}

static int sameString(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

/* Memory behind the .tvr calls' read and write functions. */
struct Memory {
    unsigned char *data;
    size_t size;
    size_t pos;
};

static size_t readMemory(void *user, void *buffer, size_t capacity) {
    struct Memory *memory = (struct Memory *)user;
    unsigned char *to = (unsigned char *)buffer;
    size_t n = 0;
    while (n < capacity && memory->pos < memory->size) to[n++] = memory->data[memory->pos++];
    return n;
}

static int writeMemory(void *user, const void *data, size_t size) {
    struct Memory *memory = (struct Memory *)user;
    const unsigned char *from = (const unsigned char *)data;
    size_t i;
    if (memory->pos + size > kRoom) return 1;
    for (i = 0; i < size; ++i) memory->data[memory->pos++] = from[i];
    return 0;
}

static int streamingChecks(size_t oneShotLength) {
    tavrine_encoder *encoder = 0;
    tavrine_decoder *decoder = 0;
    tavrine_in_buffer in;
    tavrine_out_buffer out;
    size_t remaining = 1;

    if (tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder) != TAVRINE_OK) return 20;
    in.src = kText;
    in.size = kTextLength;
    in.pos = 0;
    out.dst = pieces;
    out.size = kRoom;
    out.pos = 0;
    if (tavrine_encode_stream(encoder, &out, &in, TAVRINE_END, &remaining) != TAVRINE_OK || remaining != 0 ||
        out.pos != oneShotLength || !sameBytes(pieces, stream, oneShotLength))
        return 21;
    tavrine_encoder_free(encoder);

    if (tavrine_decoder_create(&decoder) != TAVRINE_OK) return 22;
    in.src = pieces;
    in.size = oneShotLength;
    in.pos = 0;
    out.dst = restored;
    out.pos = 0;
    if (tavrine_decode_stream(decoder, &out, &in, TAVRINE_END, &remaining) != TAVRINE_OK ||
        out.pos != kTextLength || !sameBytes(restored, kText, kTextLength) ||
        tavrine_decoder_offset(decoder) != oneShotLength)
        return 23;
    tavrine_decoder_free(decoder);
    return 0;
}

static int tvrChecks(void) {
    tavrine_tvr_settings settings;
    tavrine_tvr_report report;
    tavrine_tvr_listing listing;
    struct Memory text, file, copy;

    tavrine_tvr_settings_init(&settings);
    if (settings.variant != 5 || settings.segment_size != TAVRINE_TVR_DEFAULT_SEGMENT_SIZE) return 30;
    /* One thread: under qemu, the 32-bit wine runs threaded programs unreliably. */
    settings.threads = 1;
    text.data = (unsigned char *)kText;
    text.size = kTextLength;
    text.pos = 0;
    file.data = pieces;
    file.size = 0;
    file.pos = 0;
    if (tavrine_tvr_compress(readMemory, &text, writeMemory, &file, &settings, &report) != TAVRINE_OK) return 31;
    file.size = file.pos;
    file.pos = 0;
    if (tavrine_tvr_list(readMemory, &file, &listing, &report) != TAVRINE_OK || listing.decoded_size != kTextLength)
        return 32;
    file.pos = 0;
    copy.data = restored;
    copy.size = 0;
    copy.pos = 0;
    if (tavrine_tvr_decompress(readMemory, &file, writeMemory, &copy, &settings, &report) != TAVRINE_OK ||
        copy.pos != kTextLength || !sameBytes(restored, kText, kTextLength))
        return 33;
    return 0;
}

static int runChecks(void) {
    uint32_t zoltLength = kRoom;
    size_t length = 0, decodedLength = 0;
    uint64_t announced = 0, fault = 0;
    int failed;

    if (tavrine_version()[0] != '0' + TAVRINE_VERSION_MAJOR) return 1;
    if (!sameString(tavrine_status_text(TAVRINE_CORRUPT), "corrupt data")) return 2;
    if (tavrine_encode_bound(65536) != 73782) return 3;
    if (tavrine_encode(TAVRINE_VARIANT_RANGE_CODED, kText, kTextLength, stream, kRoom, &length, 0, 0) != TAVRINE_OK)
        return 4;
    if (tavrine_decoded_length(stream, length, &announced, &fault) != TAVRINE_OK || announced != kTextLength) return 5;
    if (tavrine_decode(stream, length, restored, kRoom, &decodedLength, &fault, 0, 0) != TAVRINE_OK ||
        decodedLength != kTextLength || !sameBytes(restored, kText, kTextLength))
        return 6;
    /* The __stdcall export writes the same stream. */
    if (!ZOLT_Encode(2, 5, kText, kTextLength, pieces, &zoltLength, 0, 0) || zoltLength != length ||
        !sameBytes(pieces, stream, length))
        return 7;
    failed = streamingChecks(length);
    if (failed != 0) return failed;
    return tvrChecks();
}

#if defined(TAVRINE_HOST_WITHOUT_CRT)
/* The process entry, as a C runtime's own would be: the value returned is the
 * exit status. */
int hostEntry(void);
int hostEntry(void) { return runChecks(); }
#else
int main(void) { return runChecks(); }
#endif
