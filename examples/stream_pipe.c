/*
 * Streaming: compresses standard input to standard output, or decompresses
 * with -d, in pieces of 64 KiB. Memory stays the same whatever the length,
 * and the stream equals ZOLT_Encode's for the whole input.
 * Usage: tavrine-stream-pipe [-d] < IN > OUT
 */
#include <stdio.h>
#include <string.h>

#include "tavrine_api.h"

#define PIECE 65536

static unsigned char input[PIECE];
static unsigned char output[PIECE];

/* Reads the next piece; the input ends with a short piece. */
static size_t readPiece(tavrine_directive *directive) {
    size_t got = fread(input, 1, sizeof input, stdin);
    *directive = got < sizeof input ? TAVRINE_END : TAVRINE_CONTINUE;
    return got;
}

static int compress(void) {
    tavrine_encoder *encoder = NULL;
    tavrine_directive directive = TAVRINE_CONTINUE;
    tavrine_status status = tavrine_encoder_create(TAVRINE_VARIANT_RANGE_CODED, &encoder);
    while (status == TAVRINE_OK && directive != TAVRINE_END) {
        tavrine_in_buffer in;
        size_t remaining = 0;
        in.src = input;
        in.size = readPiece(&directive);
        in.pos = 0;
        /* Until the piece is taken, and at the end until the stream is out. */
        do {
            tavrine_out_buffer out;
            out.dst = output;
            out.size = sizeof output;
            out.pos = 0;
            status = tavrine_encode_stream(encoder, &out, &in, directive, &remaining);
            fwrite(output, 1, out.pos, stdout);
        } while (status == TAVRINE_OK && (in.pos < in.size || (directive == TAVRINE_END && remaining != 0)));
    }
    tavrine_encoder_free(encoder);
    if (status != TAVRINE_OK) fprintf(stderr, "encoding failed: %s\n", tavrine_status_text(status));
    return status == TAVRINE_OK && !ferror(stdin) && fflush(stdout) == 0 ? 0 : 1;
}

static int decompress(void) {
    tavrine_decoder *decoder = NULL;
    tavrine_directive directive = TAVRINE_CONTINUE;
    tavrine_status status = tavrine_decoder_create(&decoder);
    while (status == TAVRINE_OK && directive != TAVRINE_END) {
        tavrine_in_buffer in;
        size_t remaining = 0;
        in.src = input;
        in.size = readPiece(&directive);
        in.pos = 0;
        /* Decoded bytes come out block by block, as each block is complete. */
        do {
            tavrine_out_buffer out;
            out.dst = output;
            out.size = sizeof output;
            out.pos = 0;
            status = tavrine_decode_stream(decoder, &out, &in, directive, &remaining);
            fwrite(output, 1, out.pos, stdout);
        } while (status == TAVRINE_OK && (in.pos < in.size || remaining != 0));
    }
    if (status != TAVRINE_OK) {
        fprintf(stderr, "decoding failed: %s at stream offset %lu\n", tavrine_status_text(status),
                (unsigned long)tavrine_decoder_offset(decoder));
    }
    tavrine_decoder_free(decoder);
    return status == TAVRINE_OK && !ferror(stdin) && fflush(stdout) == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "-d") == 0) return decompress();
    if (argc == 1) return compress();
    fprintf(stderr, "usage: %s [-d] < IN > OUT\n", argv[0]);
    return 2;
}
