/*
 * Writes the stream that ZOLT_Encode makes of a file, for comparing the
 * builds of the module with each other.
 * Usage: stream_dump VARIANT INPUT OUTPUT
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tavrine.h"

int main(int argc, char **argv) {
    FILE *in, *out;
    long size;
    unsigned char *src, *dst;
    uint32_t variant, bound = 0, length;
    int ok;

    if (argc != 4) {
        fprintf(stderr, "usage: %s VARIANT INPUT OUTPUT\n", argv[0]);
        return 2;
    }
    variant = (uint32_t)strtoul(argv[1], NULL, 10);
    in = fopen(argv[2], "rb");
    if (in == NULL || fseek(in, 0, SEEK_END) != 0 || (size = ftell(in)) < 0 || fseek(in, 0, SEEK_SET) != 0) {
        fprintf(stderr, "%s: cannot read\n", argv[2]);
        return 1;
    }
    src = malloc((size_t)size + 1);
    if (src == NULL || fread(src, 1, (size_t)size, in) != (size_t)size) return 1;
    fclose(in);
    if (!ZOLT_GetMaximumEncodedLength(2, variant, (uint32_t)size, &bound)) return 2;
    dst = malloc(bound);
    length = bound;
    if (dst == NULL) return 1;
    ok = ZOLT_Encode(2, variant, src, (uint32_t)size, dst, &length, NULL, NULL);
    if (!ok) {
        fprintf(stderr, "%s: encoding failed\n", argv[2]);
        return 1;
    }
    out = fopen(argv[3], "wb");
    if (out == NULL || fwrite(dst, 1, length, out) != length || fclose(out) != 0) {
        fprintf(stderr, "%s: cannot write\n", argv[3]);
        return 1;
    }
    free(src);
    free(dst);
    return 0;
}
