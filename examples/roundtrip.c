/*
 * Compresses a file in memory with the tavrine module, decompresses it again,
 * checks that the bytes come back, and prints sizes, ratio and speed.
 * Usage: tavrine-roundtrip FILE [variant]
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "tavrine.h"

static double seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

static unsigned char *readWhole(const char *path, uint32_t *length) {
    FILE *in = fopen(path, "rb");
    unsigned char *data = NULL;
    long size;
    if (in == NULL) return NULL;
    if (fseek(in, 0, SEEK_END) == 0 && (size = ftell(in)) >= 0 && size <= 0x7FFFFFFF &&
        fseek(in, 0, SEEK_SET) == 0) {
        data = malloc((size_t)size + 1);
        if (data != NULL && fread(data, 1, (size_t)size, in) != (size_t)size) {
            free(data);
            data = NULL;
        }
        *length = (uint32_t)size;
    }
    fclose(in);
    return data;
}

static double megabytesPerSecond(uint32_t bytes, double elapsed) {
    return elapsed > 0 ? (double)bytes / 1e6 / elapsed : 0.0;
}

int main(int argc, char **argv) {
    const uint32_t type = 2;
    uint32_t variant = 5, srcLen = 0, bound = 0, packedLen, unpackedLen = 0;
    unsigned char *src, *packed, *unpacked;
    double start, encodeTime, decodeTime;
    int ok;

    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE [0|5]\n", argv[0]);
        return 2;
    }
    if (argc > 2) variant = (uint32_t)strtoul(argv[2], NULL, 10);
    if (!ZOLT_IsSupportedEncodeType(type, variant)) {
        fprintf(stderr, "variant %u is not supported (use 0 or 5)\n", (unsigned)variant);
        return 2;
    }
    src = readWhole(argv[1], &srcLen);
    if (src == NULL) {
        fprintf(stderr, "%s: cannot read the file\n", argv[1]);
        return 1;
    }
    ZOLT_GetMaximumEncodedLength(type, variant, srcLen, &bound);
    packed = malloc(bound);
    unpacked = malloc(srcLen + 1);
    if (packed == NULL || unpacked == NULL) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }

    packedLen = bound;
    start = seconds();
    ok = ZOLT_Encode(type, variant, src, srcLen, packed, &packedLen, NULL, NULL);
    encodeTime = seconds() - start;
    if (!ok) {
        fprintf(stderr, "%s: encoding failed\n", argv[1]);
        return 1;
    }

    if (!ZOLT_GetDecodedLength(type, packed, packedLen, &unpackedLen) || unpackedLen != srcLen) {
        fprintf(stderr, "%s: the stream does not announce the source length\n", argv[1]);
        return 1;
    }
    start = seconds();
    ok = ZOLT_Decode(type, packed, packedLen, unpacked, &unpackedLen, NULL, NULL);
    decodeTime = seconds() - start;
    if (!ok || unpackedLen != srcLen || memcmp(src, unpacked, srcLen) != 0) {
        fprintf(stderr, "%s: decoding did not give the source back\n", argv[1]);
        return 1;
    }

    printf("%s: %u -> %u bytes (%.2f%%, %.3f bits/byte), variant %u\n", argv[1], (unsigned)srcLen,
           (unsigned)packedLen, srcLen ? 100.0 * packedLen / srcLen : 0.0,
           srcLen ? 8.0 * packedLen / srcLen : 0.0, (unsigned)variant);
    printf("encode %.1f MB/s, decode %.1f MB/s, round trip verified\n",
           megabytesPerSecond(srcLen, encodeTime), megabytesPerSecond(srcLen, decodeTime));
    free(src);
    free(packed);
    free(unpacked);
    return 0;
}
