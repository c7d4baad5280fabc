/*
 * One-shot calls: a whole buffer in, a whole buffer out, and the reason when
 * a call fails. Encodes a file, decodes it again, then shows what a damaged
 * stream reports. Usage: tavrine-one-shot FILE
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavrine_api.h"

/* The whole file in memory; NULL when it cannot be read. */
static unsigned char *readFile(const char *path, size_t *size) {
    unsigned char *data = NULL;
    long length = -1;
    FILE *in = fopen(path, "rb");
    if (in == NULL) return NULL;
    if (fseek(in, 0, SEEK_END) == 0) length = ftell(in);
    if (length >= 0 && fseek(in, 0, SEEK_SET) == 0) {
        data = malloc((size_t)length + 1);
        if (data != NULL && fread(data, 1, (size_t)length, in) != (size_t)length) {
            free(data);
            data = NULL;
        }
        *size = (size_t)length;
    }
    fclose(in);
    return data;
}

int main(int argc, char **argv) {
    size_t srcLen = 0, streamLen = 0, decodedLen = 0;
    uint64_t bound, announced = 0, fault = 0;
    unsigned char *src, *stream, *decoded;
    tavrine_status status;

    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    src = readFile(argv[1], &srcLen);
    if (src == NULL) {
        fprintf(stderr, "%s: cannot read it\n", argv[1]);
        return 1;
    }

    /* Room for the largest stream: the encoder then never runs short. */
    bound = tavrine_encode_bound(srcLen);
    stream = malloc((size_t)bound);
    if (stream == NULL) return 1;
    status = tavrine_encode(TAVRINE_VARIANT_RANGE_CODED, src, srcLen, stream, (size_t)bound,
                            &streamLen, NULL, NULL);
    if (status != TAVRINE_OK) {
        fprintf(stderr, "encoding failed: %s\n", tavrine_status_text(status));
        return 1;
    }

    /* The block headers tell the decoded length without decoding. */
    status = tavrine_decoded_length(stream, streamLen, &announced, &fault);
    if (status != TAVRINE_OK) return 1;
    decoded = malloc((size_t)announced + 1);
    if (decoded == NULL) return 1;
    status = tavrine_decode(stream, streamLen, decoded, (size_t)announced, &decodedLen, &fault,
                            NULL, NULL);
    if (status != TAVRINE_OK || decodedLen != srcLen || memcmp(decoded, src, srcLen) != 0) {
        fprintf(stderr, "decoding failed: %s\n", tavrine_status_text(status));
        return 1;
    }
    printf("%lu bytes -> %lu bytes -> %lu bytes, the same\n", (unsigned long)srcLen,
           (unsigned long)streamLen, (unsigned long)decodedLen);

    /* Damage: the second block's header announces a decoded length of 0,
     * which no encoder writes (docs/stream.md). The decoder names the block
     * at fault, and the block before it stands decoded. */
    if (streamLen < 4) return 0;
    {
        size_t second = (size_t)stream[0] | (size_t)stream[1] << 8;
        if (second + 4 > streamLen) second = 0; /* a stream of one block */
        stream[second + 2] = 0;
        stream[second + 3] = 0;
    }
    status = tavrine_decode(stream, streamLen, decoded, (size_t)announced, &decodedLen, &fault,
                            NULL, NULL);
    printf("damaged: %s at stream offset %lu, %lu bytes decoded before it\n",
           tavrine_status_text(status), (unsigned long)fault, (unsigned long)decodedLen);

    free(src);
    free(stream);
    free(decoded);
    return status == TAVRINE_CORRUPT ? 0 : 1;
}
