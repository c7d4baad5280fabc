/*
 * A Windows program on tavrine.dll, linked through its import library as a
 * Windows programmer links it. Every listed file goes
 *   - through the streaming encoder in both variants, in pieces of changing
 *     sizes and into small output windows, and back through the streaming
 *     decoder; the streams are written to OUTDIR as NAME.v0 and NAME.v5;
 *   - through tavrine_tvr_compress and tavrine_tvr_decompress on read and
 *     write callbacks, on THREADS worker threads, in segments of 64 KiB; the .tvr
 *     file is written to OUTDIR as NAME.tvr and listed.
 * Other builds' streams and files are compared with these by the test.
 * Usage: api_host LISTFILE OUTDIR THREADS   (LISTFILE: one path per line)
 */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrine_api.h"

enum { kOutputWindow = 4096, kSegmentSize = 65536 };

/* The input piece sizes, taken in turn: one byte, odd sizes, a block, more. */
static const size_t kPieces[] = {1, 4093, 8192, 65537, 300};

/* A growing byte buffer. */
struct Bytes {
    unsigned char *data;
    size_t size;
    size_t capacity;
};

static int append(struct Bytes *bytes, const void *data, size_t size) {
    if (bytes->size + size > bytes->capacity) {
        size_t capacity = bytes->capacity * 2 + size + 1;
        unsigned char *grown = realloc(bytes->data, capacity);
        if (grown == NULL) return 0;
        bytes->data = grown;
        bytes->capacity = capacity;
    }
    memcpy(bytes->data + bytes->size, data, size);
    bytes->size += size;
    return 1;
}

static unsigned char *readWhole(const char *path, size_t *length) {
    FILE *in = fopen(path, "rb");
    unsigned char *data = NULL;
    long size;
    if (in == NULL) return NULL;
    if (fseek(in, 0, SEEK_END) == 0 && (size = ftell(in)) >= 0 && fseek(in, 0, SEEK_SET) == 0) {
        data = malloc((size_t)size + 1);
        if (data != NULL && fread(data, 1, (size_t)size, in) != (size_t)size) {
            free(data);
            data = NULL;
        }
        *length = (size_t)size;
    }
    fclose(in);
    return data;
}

static int writeWhole(const char *path, const unsigned char *data, size_t size) {
    FILE *out = fopen(path, "wb");
    int ok = out != NULL && fwrite(data, 1, size, out) == size;
    if (out != NULL && fclose(out) != 0) ok = 0;
    return ok;
}

static const char *baseName(const char *path) {
    const char *slash = strrchr(path, '/');
    const char *backslash = strrchr(path, '\\');
    if (backslash > slash) slash = backslash;
    return slash ? slash + 1 : path;
}

/* The streaming encoder over src in changing pieces; the stream in *stream. */
static tavrine_status encodeInPieces(uint32_t variant, const unsigned char *src, size_t srcLen,
                                     struct Bytes *stream) {
    tavrine_encoder *encoder = NULL;
    unsigned char window[kOutputWindow];
    size_t at = 0, turn = 0;
    tavrine_directive directive = TAVRINE_CONTINUE;
    tavrine_status status = tavrine_encoder_create(variant, &encoder);
    while (status == TAVRINE_OK && directive != TAVRINE_END) {
        tavrine_in_buffer in;
        size_t piece = kPieces[turn++ % (sizeof kPieces / sizeof kPieces[0])], remaining = 0;
        if (piece >= srcLen - at) {
            piece = srcLen - at;
            directive = TAVRINE_END;
        }
        in.src = src + at;
        in.size = piece;
        in.pos = 0;
        do {
            tavrine_out_buffer out;
            out.dst = window;
            out.size = sizeof window;
            out.pos = 0;
            status = tavrine_encode_stream(encoder, &out, &in, directive, &remaining);
            if (!append(stream, window, out.pos)) status = TAVRINE_OUT_OF_MEMORY;
        } while (status == TAVRINE_OK && (in.pos < in.size || (directive == TAVRINE_END && remaining != 0)));
        at += piece;
    }
    tavrine_encoder_free(encoder);
    return status;
}

/* The streaming decoder over the stream in changing pieces; the bytes in *plain. */
static tavrine_status decodeInPieces(const struct Bytes *stream, struct Bytes *plain) {
    tavrine_decoder *decoder = NULL;
    unsigned char window[kOutputWindow];
    size_t at = 0, turn = 0;
    tavrine_directive directive = TAVRINE_CONTINUE;
    tavrine_status status = tavrine_decoder_create(&decoder);
    while (status == TAVRINE_OK && directive != TAVRINE_END) {
        tavrine_in_buffer in;
        size_t piece = kPieces[turn++ % (sizeof kPieces / sizeof kPieces[0])], remaining = 0;
        if (piece >= stream->size - at) {
            piece = stream->size - at;
            directive = TAVRINE_END;
        }
        in.src = stream->data + at;
        in.size = piece;
        in.pos = 0;
        do {
            tavrine_out_buffer out;
            out.dst = window;
            out.size = sizeof window;
            out.pos = 0;
            status = tavrine_decode_stream(decoder, &out, &in, directive, &remaining);
            if (!append(plain, window, out.pos)) status = TAVRINE_OUT_OF_MEMORY;
        } while (status == TAVRINE_OK && (in.pos < in.size || remaining != 0));
        at += piece;
    }
    tavrine_decoder_free(decoder);
    return status;
}

/* Read and write callbacks of the .tvr calls: memory in, a file out, and back. */
struct MemoryReader {
    const unsigned char *data;
    size_t size;
    size_t pos;
};

static size_t readMemory(void *user, void *buffer, size_t capacity) {
    struct MemoryReader *reader = (struct MemoryReader *)user;
    size_t n = reader->size - reader->pos;
    if (n > capacity) n = capacity;
    memcpy(buffer, reader->data + reader->pos, n);
    reader->pos += n;
    return n;
}

static int writeFile(void *user, const void *data, size_t size) {
    return fwrite(data, 1, size, (FILE *)user) == size ? 0 : 1;
}

static size_t readFile(void *user, void *buffer, size_t capacity) {
    FILE *in = (FILE *)user;
    size_t got = fread(buffer, 1, capacity, in);
    return got == 0 && ferror(in) ? TAVRINE_READ_FAILED : got;
}

static int writeMemory(void *user, const void *data, size_t size) {
    return append((struct Bytes *)user, data, size) ? 0 : 1;
}

/* Streams of both variants, each decoded again; 0 on any failure. */
static int streamRoundTrips(const char *path, const unsigned char *src, size_t srcLen, const char *outDir) {
    uint32_t variant;
    for (variant = 0; variant <= 5; variant += 5) {
        struct Bytes stream = {NULL, 0, 0}, plain = {NULL, 0, 0};
        char outPath[MAX_PATH];
        tavrine_status status = encodeInPieces(variant, src, srcLen, &stream);
        int ok = status == TAVRINE_OK;
        if (ok) status = decodeInPieces(&stream, &plain);
        ok = ok && status == TAVRINE_OK && plain.size == srcLen && (srcLen == 0 || memcmp(plain.data, src, srcLen) == 0);
        snprintf(outPath, sizeof outPath, "%s/%s.v%u", outDir, baseName(path), (unsigned)variant);
        if (ok && !writeWhole(outPath, stream.data, stream.size)) {
            fprintf(stderr, "%s: cannot write\n", outPath);
            ok = 0;
        } else if (!ok) {
            fprintf(stderr, "%s: variant %u: %s\n", path, (unsigned)variant, tavrine_status_text(status));
        }
        free(stream.data);
        free(plain.data);
        if (!ok) return 0;
    }
    return 1;
}

/* A .tvr file written on worker threads through callbacks, listed and read back; 0 on any failure. */
static int tvrRoundTrip(const char *path, const unsigned char *src, size_t srcLen, const char *outDir,
                        unsigned threads) {
    struct MemoryReader reader;
    struct Bytes plain = {NULL, 0, 0};
    tavrine_tvr_settings settings;
    tavrine_tvr_report report;
    tavrine_tvr_listing listing;
    tavrine_status status;
    char outPath[MAX_PATH];
    FILE *file;
    int ok;

    snprintf(outPath, sizeof outPath, "%s/%s.tvr", outDir, baseName(path));
    tavrine_tvr_settings_init(&settings);
    settings.segment_size = kSegmentSize;
    settings.threads = threads;
    reader.data = src;
    reader.size = srcLen;
    reader.pos = 0;
    file = fopen(outPath, "wb");
    if (file == NULL) return 0;
    status = tavrine_tvr_compress(readMemory, &reader, writeFile, file, &settings, &report);
    ok = fclose(file) == 0 && status == TAVRINE_OK && report.bytes_in == srcLen;
    if (!ok) {
        fprintf(stderr, "%s: writing the .tvr file: %s %s\n", path, tavrine_status_text(status), report.message);
        return 0;
    }

    file = fopen(outPath, "rb");
    if (file == NULL) return 0;
    status = tavrine_tvr_list(readFile, file, &listing, &report);
    ok = status == TAVRINE_OK && listing.decoded_size == srcLen && listing.segment_size == kSegmentSize;
    if (ok && fseek(file, 0, SEEK_SET) == 0) {
        status = tavrine_tvr_decompress(readFile, file, writeMemory, &plain, &settings, &report);
        ok = status == TAVRINE_OK && plain.size == srcLen && (srcLen == 0 || memcmp(plain.data, src, srcLen) == 0);
    }
    fclose(file);
    if (!ok) fprintf(stderr, "%s: reading the .tvr file: %s %s\n", path, tavrine_status_text(status), report.message);
    free(plain.data);
    return ok;
}

int main(int argc, char **argv) {
    FILE *list;
    char line[MAX_PATH];
    int files = 0, failures = 0;

    if (argc != 4 || atoi(argv[3]) < 1) {
        fprintf(stderr, "usage: %s LISTFILE OUTDIR THREADS\n", argv[0]);
        return 2;
    }
    CreateDirectoryA(argv[2], NULL);
    list = fopen(argv[1], "r");
    if (list == NULL) {
        fprintf(stderr, "%s: cannot read the file list\n", argv[1]);
        return 1;
    }
    while (fgets(line, sizeof line, list) != NULL) {
        size_t length = 0;
        unsigned char *data;
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0') continue;
        data = readWhole(line, &length);
        if (data == NULL) {
            fprintf(stderr, "%s: cannot read\n", line);
            ++failures;
            continue;
        }
        failures += !streamRoundTrips(line, data, length, argv[2]);
        failures += !tvrRoundTrip(line, data, length, argv[2], (unsigned)atoi(argv[3]));
        free(data);
        ++files;
    }
    fclose(list);
    printf("tavrine.dll %s: %d files through the streaming calls in both variants and through .tvr files, "
           "%d failures\n", tavrine_version(), files, failures);
    return failures == 0 && files > 0 ? 0 : 1;
}
