/*
 * tavrine - the library interface for real data: calls that say why they
 * failed, streaming encoding and decoding of any length in bounded memory, and
 * reading and writing checksummed .tvr files.
 *
 * Every stream these functions write is a stream of tavrine.h's stream type
 * (docs/stream.md), and every stream they accept is one that ZOLT_Decode
 * accepts. This header is C89 with C++ guards; it includes tavrine.h.
 *
 * Conventions:
 *   - Every function that can fail returns a tavrine_status; TAVRINE_OK is 0.
 *     No function lets an exception escape.
 *   - Lengths are size_t in memory and uint64_t in streams and files, so that
 *     inputs over 4 GiB - 1 bytes pass through the streaming calls and the
 *     .tvr files. A stream of more than 4 GiB - 1 bytes, or one that decodes
 *     to more, cannot be handed to the one-shot calls (ZOLT_Decode and
 *     tavrine_decode take 32-bit lengths); the streaming decoder takes it.
 *   - Objects (encoders, decoders) may be used from any thread, one thread
 *     at a time; different objects share nothing.
 */
#ifndef TAVRINE_API_H
#define TAVRINE_API_H

#include <stddef.h>
#include <stdint.h>

#include "tavrine.h"

#if defined(TAVRINE_BUILDING) && !defined(_WIN32)
#define TAVRINE_API __attribute__((visibility("default")))
#else
#define TAVRINE_API
#endif

/* The file-descriptor conveniences for .tvr files exist where the platform
 * has POSIX descriptors. */
#if !defined(_WIN32)
#define TAVRINE_HAVE_FD_IO 1
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------ status */

typedef enum tavrine_status {
    TAVRINE_OK = 0,
    TAVRINE_CORRUPT = 1,          /* the input holds something no encoder writes */
    TAVRINE_TRUNCATED = 2,        /* the input ends inside a block, frame or file */
    TAVRINE_OUTPUT_TOO_SMALL = 3, /* the next block does not fit the output buffer */
    TAVRINE_OUT_OF_MEMORY = 4,
    TAVRINE_ABORTED = 5,          /* a progress callback returned 0 */
    TAVRINE_BAD_ARGUMENT = 6,     /* a null pointer, an unknown variant, a misused object */
    TAVRINE_TOO_LARGE = 7,        /* beyond what the call or the format can state */
    TAVRINE_IO_ERROR = 8,         /* a read or write callback (or descriptor) failed */
    TAVRINE_UNKNOWN_FORMAT = 9,   /* not a .tvr file, or a version or feature this library does not read */
    TAVRINE_MEMORY_LIMIT = 10     /* a .tvr segment needs more memory than the settings allow */
} tavrine_status;

/* A short lower-case text for a status ("corrupt data"); never NULL. */
TAVRINE_API const char *tavrine_status_text(tavrine_status status) ZOLT_NOTHROW;

/* The library's version as "MAJOR.MINOR.PATCH", the TAVRINE_VERSION_ macros
 * of the library that was built (which a program compiled against another
 * header may differ from). */
TAVRINE_API const char *tavrine_version(void) ZOLT_NOTHROW;

/* ------------------------------------------------------- one-shot calls */

/* Output capacity that always suffices for tavrine_encode of src_len bytes:
 * (ceil(src_len / 8192) + 1) * 8198, in 64-bit arithmetic. */
TAVRINE_API uint64_t tavrine_encode_bound(uint64_t src_len) ZOLT_NOTHROW;

/* Encodes src_len bytes (at most 4 GiB - 1) into dst with variant 0 or 5;
 * the stream is ZOLT_Encode's byte for byte, and the progress callback (may
 * be NULL) is called as ZOLT_Encode calls it. *dst_len is always written: the
 * stream length on TAVRINE_OK (also on TAVRINE_ABORTED at the final report,
 * when the stream is complete), else the length of the complete blocks before
 * the failing one.
 * Statuses: TAVRINE_OUTPUT_TOO_SMALL, TAVRINE_ABORTED, TAVRINE_OUT_OF_MEMORY,
 * TAVRINE_TOO_LARGE (src_len over 4 GiB - 1: use the streaming encoder),
 * TAVRINE_BAD_ARGUMENT. */
TAVRINE_API tavrine_status tavrine_encode(uint32_t variant, const void *src, size_t src_len,
                                          void *dst, size_t dst_capacity, size_t *dst_len,
                                          ZOLT_ProgressCallback progress, void *user) ZOLT_NOTHROW;

/* The decoded length that a stream's block headers announce, found without
 * decoding. Headers that no encoder writes give TAVRINE_CORRUPT and a stream
 * that ends inside a block TAVRINE_TRUNCATED, each with the stream offset of
 * that block in *fault_offset (may be NULL); *decoded_len then holds the
 * lengths of the blocks before it. */
TAVRINE_API tavrine_status tavrine_decoded_length(const void *src, size_t src_len,
                                                  uint64_t *decoded_len,
                                                  uint64_t *fault_offset) ZOLT_NOTHROW;

/* Decodes a stream of src_len bytes (at most 4 GiB - 1) into dst. It accepts
 * exactly the streams ZOLT_Decode accepts and gives the same bytes; *dst_len
 * is always written, with the decoded length on TAVRINE_OK, else with the
 * length of the blocks decoded before the failing one (they stand in dst).
 * For TAVRINE_CORRUPT, TAVRINE_TRUNCATED and TAVRINE_OUTPUT_TOO_SMALL,
 * *fault_offset (may be NULL) receives the stream offset of the block at
 * fault. Progress as for ZOLT_Decode (TAVRINE_ABORTED when it returns 0). */
TAVRINE_API tavrine_status tavrine_decode(const void *src, size_t src_len, void *dst,
                                          size_t dst_capacity, size_t *dst_len,
                                          uint64_t *fault_offset, ZOLT_ProgressCallback progress,
                                          void *user) ZOLT_NOTHROW;

/* ------------------------------------------------------- streaming calls */

/* Input and output windows of the streaming calls, in the manner of zstd:
 * a call reads in->src[in->pos .. in->size - 1] and writes
 * out->dst[out->pos .. out->size - 1], and moves each pos past what it used.
 * Any sizes work, 1 byte included. */
typedef struct tavrine_in_buffer {
    const void *src;
    size_t size;
    size_t pos;
} tavrine_in_buffer;

typedef struct tavrine_out_buffer {
    void *dst;
    size_t size;
    size_t pos;
} tavrine_out_buffer;

/* The most worker threads that any call or object takes. */
#define TAVRINE_MAX_THREADS 256u

typedef enum tavrine_directive {
    TAVRINE_CONTINUE = 0, /* more input follows */
    TAVRINE_FLUSH = 1,    /* encoder: end the current block with the input so far */
    TAVRINE_END = 2       /* the input ends with this call's in buffer */
} tavrine_directive;

/* The streaming encoder: for the same whole input it writes exactly
 * ZOLT_Encode's bytes, however the input and output are cut, unless
 * TAVRINE_FLUSH was used: a flush closes the current block early, so that the
 * receiver can decode everything given so far; the stream stays valid, but
 * its block boundaries then differ from ZOLT_Encode's. It holds one block of
 * input and one of output besides the block sort's tables (about 230 KB of
 * heap in all), whatever the length; with worker threads (see
 * tavrine_encoder_set_threads) about 250 KB more per thread. */
typedef struct tavrine_encoder tavrine_encoder;

/* Creates an encoder for variant 0 or 5 (TAVRINE_BAD_ARGUMENT otherwise). */
TAVRINE_API tavrine_status tavrine_encoder_create(uint32_t variant,
                                                  tavrine_encoder **encoder) ZOLT_NOTHROW;

/* NULL is allowed. */
TAVRINE_API void tavrine_encoder_free(tavrine_encoder *encoder) ZOLT_NOTHROW;

/* Threads for one stream: with threads from 2 to TAVRINE_MAX_THREADS, the
 * calling thread and threads - 1 threads of the encoder's own sort the next
 * blocks, and the calling thread codes the sorted ones in order; 0 or 1 (the
 * default): everything on the calling thread. The stream
 * is the same bytes for every count. Only before the first input
 * (TAVRINE_BAD_ARGUMENT after it, or for more than TAVRINE_MAX_THREADS).
 * The threads start once more than one block of input is in sight and the
 * input taken and in sight reaches 512 KiB, so that short streams, which
 * code in less time than a new thread may take to first run, do not pay for
 * them; if the system cannot start them, the encoder goes on without them.
 * With threads, a call with TAVRINE_CONTINUE returns while blocks may still
 * be sorted; TAVRINE_FLUSH and TAVRINE_END wait for them. */
TAVRINE_API tavrine_status tavrine_encoder_set_threads(tavrine_encoder *encoder,
                                                       uint32_t threads) ZOLT_NOTHROW;

/* Takes input from in (may be NULL: no input) and writes stream bytes to out,
 * as far as either allows. *remaining (may be NULL) is 0 once the directive
 * is complete (TAVRINE_END: the stream is complete; TAVRINE_FLUSH: every
 * byte given so far is in out); otherwise call again with room in out. With
 * TAVRINE_CONTINUE it counts the stream bytes held back for out. After the
 * end, further input is TAVRINE_BAD_ARGUMENT. A failure (out of memory)
 * stays: every later call returns it. */
TAVRINE_API tavrine_status tavrine_encode_stream(tavrine_encoder *encoder, tavrine_out_buffer *out,
                                                 tavrine_in_buffer *in, tavrine_directive directive,
                                                 size_t *remaining) ZOLT_NOTHROW;

/* The streaming decoder: it accepts exactly the streams that ZOLT_Decode
 * accepts (any length here), gives the same bytes, and refuses the others
 * at the same block. Decoded bytes come out block by block, as each block
 * arrives complete; it holds one block of stream and one of output (about
 * 170 KB of heap in all), whatever the length; with worker threads (see
 * tavrine_decoder_set_threads) about 200 KB more per thread. */
typedef struct tavrine_decoder tavrine_decoder;

TAVRINE_API tavrine_status tavrine_decoder_create(tavrine_decoder **decoder) ZOLT_NOTHROW;

/* NULL is allowed. */
TAVRINE_API void tavrine_decoder_free(tavrine_decoder *decoder) ZOLT_NOTHROW;

/* Threads for one stream: with threads from 2 to TAVRINE_MAX_THREADS, the
 * calling thread range decodes each block while threads - 1 threads of the
 * decoder's own (and the calling thread when it would otherwise wait) undo
 * move-to-front and run the inverse block sorts of the blocks before it; 0
 * or 1 (the default): everything on the calling thread. The
 * output, the verdicts and the offsets are the same for every count. Only
 * before the first input, as for the encoder; the threads start once the
 * stream shows more than one block and its bytes taken and in sight reach
 * 512 KiB. With threads, a block comes out
 * once its inverse sort is done: a call with TAVRINE_CONTINUE returns once it
 * has taken its input, delivering the blocks that are done, and *remaining
 * counts decoded bytes only when out ran out of room; TAVRINE_FLUSH (as
 * TAVRINE_END) waits for every block given so far, and *remaining then
 * counts all decoded bytes not yet delivered. */
TAVRINE_API tavrine_status tavrine_decoder_set_threads(tavrine_decoder *decoder,
                                                       uint32_t threads) ZOLT_NOTHROW;

/* Takes stream bytes from in (may be NULL) and writes decoded bytes to out.
 * *remaining (may be NULL) counts decoded bytes held back for want of room
 * in out. With TAVRINE_END the stream ends with this call's input: once all
 * of it is taken and every decoded byte delivered, a stream that stopped at a
 * block boundary is complete (TAVRINE_OK, *remaining 0), and one that stopped
 * inside a block gives TAVRINE_TRUNCATED. A block that no encoder writes
 * gives TAVRINE_CORRUPT, after the bytes of the blocks before it have been
 * delivered. Failures stay: every later call returns them. TAVRINE_FLUSH
 * means the same as TAVRINE_CONTINUE here, but for a decoder with threads. */
TAVRINE_API tavrine_status tavrine_decode_stream(tavrine_decoder *decoder, tavrine_out_buffer *out,
                                                 tavrine_in_buffer *in, tavrine_directive directive,
                                                 size_t *remaining) ZOLT_NOTHROW;

/* The stream offset of the block the decoder is at: after TAVRINE_CORRUPT or
 * TAVRINE_TRUNCATED the block at fault, after a complete stream its length. */
TAVRINE_API uint64_t tavrine_decoder_offset(const tavrine_decoder *decoder) ZOLT_NOTHROW;

/* ------------------------------------------------------------ .tvr files */

/* The .tvr file format (docs/format.md): the input cut into segments, each
 * one independent stream, every segment and the whole content checksummed. */
#define TAVRINE_TVR_FORMAT_VERSION 1
#define TAVRINE_TVR_MIN_SEGMENT_SIZE 4096u
#define TAVRINE_TVR_DEFAULT_SEGMENT_SIZE 1048576u
#define TAVRINE_TVR_MAX_SEGMENT_SIZE 67108864u
/* What the decompressor's segments may hold at once by default: 512 MiB. */
#define TAVRINE_TVR_DEFAULT_MEMORY_LIMIT 536870912u

/* Reads up to capacity bytes into buffer; returns the count, 0 at the end of
 * the input, or TAVRINE_READ_FAILED. */
typedef size_t (*tavrine_read_function)(void *user, void *buffer, size_t capacity);
#define TAVRINE_READ_FAILED ((size_t)-1)

/* Writes all size bytes; returns 0 on success, nonzero on failure. */
typedef int (*tavrine_write_function)(void *user, const void *data, size_t size);

/* Told after every segment: input bytes read and output bytes written so far.
 * Returns nonzero to go on, 0 to abort (TAVRINE_ABORTED). */
typedef int (*tavrine_tvr_progress)(void *user, uint64_t bytes_in, uint64_t bytes_out);

typedef struct tavrine_tvr_settings {
    uint32_t variant;           /* writing: 0 or 5 */
    uint32_t segment_size;      /* writing: TAVRINE_TVR_MIN_ to _MAX_SEGMENT_SIZE */
    uint32_t threads;           /* 0 or 1: the caller's thread only; up to TAVRINE_MAX_THREADS
                                   worker threads, and the bytes are the same for any count */
    tavrine_tvr_progress progress; /* may be NULL */
    void *progress_user;
    uint64_t memory_limit;      /* reading: bytes the segments being decoded may hold at once,
                                   their stored and decoded bytes; 0: no limit. Fewer segments
                                   are decoded at once to stay within it, and a segment that
                                   needs more on its own is refused (TAVRINE_MEMORY_LIMIT) */
} tavrine_tvr_settings;

/* Variant 5, the default segment size, one thread, no progress, a memory
 * limit of TAVRINE_TVR_DEFAULT_MEMORY_LIMIT. */
TAVRINE_API void tavrine_tvr_settings_init(tavrine_tvr_settings *settings) ZOLT_NOTHROW;

/* What a .tvr call did, and why it failed. */
typedef struct tavrine_tvr_report {
    uint64_t bytes_in;     /* input bytes read */
    uint64_t bytes_out;    /* output bytes written */
    uint64_t members;      /* complete members (files joined end to end) */
    uint64_t segments;
    uint64_t fault_offset; /* input offset of the damage (corrupt, truncated, unknown format) */
    int system_error;      /* the errno value of a failed descriptor call, else 0 */
    char message[256];     /* on failure, what was found in plain words; "" on success */
} tavrine_tvr_report;

/* Writes one .tvr member of all the input that read gives. report may be
 * NULL. Statuses: TAVRINE_IO_ERROR, TAVRINE_OUT_OF_MEMORY, TAVRINE_ABORTED,
 * TAVRINE_TOO_LARGE (more than 2^32 - 1 segments), TAVRINE_BAD_ARGUMENT. */
TAVRINE_API tavrine_status tavrine_tvr_compress(tavrine_read_function read, void *reader,
                                                tavrine_write_function write, void *writer,
                                                const tavrine_tvr_settings *settings,
                                                tavrine_tvr_report *report) ZOLT_NOTHROW;

/* tavrine_tvr_compress of the size bytes at data, which are coded where
 * they lie, neither copied nor read ahead: the same output with less memory
 * and time. The bytes must not change during the call; data may be NULL
 * when size is 0. */
TAVRINE_API tavrine_status tavrine_tvr_compress_memory(const void *data, size_t size,
                                                       tavrine_write_function write, void *writer,
                                                       const tavrine_tvr_settings *settings,
                                                       tavrine_tvr_report *report) ZOLT_NOTHROW;

/* Decodes every member of a .tvr input; settings gives the threads, the
 * memory limit and the progress (NULL: defaults). Only segments whose checksums match are
 * written, in order, and TAVRINE_OK comes only after every member's content
 * checksum and end frame have been verified. Any bytes at all are safe to
 * pass: damage gives TAVRINE_CORRUPT, a cut TAVRINE_TRUNCATED, foreign data
 * TAVRINE_UNKNOWN_FORMAT, each with fault_offset and a message; a segment
 * that needs more memory than settings->memory_limit TAVRINE_MEMORY_LIMIT,
 * with the frame's offset. With fewer segments than threads (or than the
 * memory limit lets run at once), each segment's blocks are inverse sorted
 * on its share of the threads. */
TAVRINE_API tavrine_status tavrine_tvr_decompress(tavrine_read_function read, void *reader,
                                                  tavrine_write_function write, void *writer,
                                                  const tavrine_tvr_settings *settings,
                                                  tavrine_tvr_report *report) ZOLT_NOTHROW;

/* tavrine_tvr_decompress of the size bytes at data: the stored streams are
 * decoded where they lie, not copied. The bytes must not change during the
 * call; data may be NULL when size is 0. */
TAVRINE_API tavrine_status tavrine_tvr_decompress_memory(const void *data, size_t size,
                                                         tavrine_write_function write, void *writer,
                                                         const tavrine_tvr_settings *settings,
                                                         tavrine_tvr_report *report) ZOLT_NOTHROW;

typedef struct tavrine_tvr_listing {
    uint64_t members;
    uint64_t segments;
    uint64_t coded_blocks;
    uint64_t uncoded_blocks;
    uint64_t compressed_size;
    uint64_t decoded_size;
    uint64_t checksum;     /* content checksum of the last member */
    uint32_t variant;      /* of the first member */
    uint32_t segment_size; /* of the first member */
} tavrine_tvr_listing;

/* Walks a .tvr input's frames and block headers without decoding; the
 * framing is checked as tavrine_tvr_decompress checks it. */
TAVRINE_API tavrine_status tavrine_tvr_list(tavrine_read_function read, void *reader,
                                            tavrine_tvr_listing *listing,
                                            tavrine_tvr_report *report) ZOLT_NOTHROW;

/* ------------------------------------------------ .tvr files piece by piece */

/* A .tvr reader gives the decoded content of a .tvr input (every member, in
 * order) as the caller asks for it, in pieces of any size, in the manner of
 * read(2). It reads its input through `read` on the calling thread and
 * decodes up to settings->threads segments ahead on worker threads of its
 * own; only bytes of segments whose checksums matched are handed out, and
 * the end of the content is reported only once every member's content
 * checksum and end frame agreed. It accepts, refuses and reports exactly as
 * tavrine_tvr_decompress does. */
typedef struct tavrine_tvr_reader tavrine_tvr_reader;

/* Creates a reader; settings (may be NULL: one thread) gives the threads
 * and the memory limit, and its other fields are not used. Nothing is read before the first
 * tavrine_tvr_read. On failure *reader is NULL. */
TAVRINE_API tavrine_status tavrine_tvr_reader_create(tavrine_read_function read, void *user,
                                                     const tavrine_tvr_settings *settings,
                                                     tavrine_tvr_reader **reader) ZOLT_NOTHROW;

/* Stops the worker threads and frees everything; NULL is allowed. */
TAVRINE_API void tavrine_tvr_reader_free(tavrine_tvr_reader *reader) ZOLT_NOTHROW;

/* Writes up to capacity decoded bytes into buffer and their count into
 * *produced; it returns fewer only at the end of a segment or of the
 * content. TAVRINE_OK with *produced 0 and capacity above 0: the content
 * is complete and verified. A failure (*produced 0) stays: every later call
 * returns it, and tavrine_tvr_reader_report tells what and where. */
TAVRINE_API tavrine_status tavrine_tvr_read(tavrine_tvr_reader *reader, void *buffer,
                                            size_t capacity, size_t *produced) ZOLT_NOTHROW;

/* What the reader did so far: input bytes read, decoded bytes handed out,
 * complete members, segments; after a failure its offset and message. */
TAVRINE_API void tavrine_tvr_reader_report(const tavrine_tvr_reader *reader,
                                           tavrine_tvr_report *report) ZOLT_NOTHROW;

/* A .tvr writer takes the input in pieces of any size and writes one .tvr
 * member through `write`: each segment is coded (on worker threads if
 * settings->threads asks for them) once its input is complete, and
 * tavrine_tvr_writer_close codes the rest and writes the end frame. For the
 * same whole input and settings the bytes equal tavrine_tvr_compress's,
 * however the input is cut. The progress callback hears after every segment
 * written. Nothing is written before the first tavrine_tvr_write or the
 * close. */
typedef struct tavrine_tvr_writer tavrine_tvr_writer;

/* Creates a writer; settings as for tavrine_tvr_compress (may be NULL: the
 * defaults). TAVRINE_BAD_ARGUMENT for settings out of range. On failure
 * *writer is NULL. */
TAVRINE_API tavrine_status tavrine_tvr_writer_create(tavrine_write_function write, void *user,
                                                     const tavrine_tvr_settings *settings,
                                                     tavrine_tvr_writer **writer) ZOLT_NOTHROW;

/* Frees the writer without completing the member (what was written stays
 * an incomplete member); NULL is allowed. */
TAVRINE_API void tavrine_tvr_writer_free(tavrine_tvr_writer *writer) ZOLT_NOTHROW;

/* Takes size bytes of input (data may be NULL when size is 0). Statuses as
 * for tavrine_tvr_compress; TAVRINE_BAD_ARGUMENT after the close. A failure
 * stays: every later call returns it. */
TAVRINE_API tavrine_status tavrine_tvr_write(tavrine_tvr_writer *writer, const void *data,
                                             size_t size) ZOLT_NOTHROW;

/* Codes the rest of the input and writes the end frame: the member is
 * complete once this returns TAVRINE_OK. Further closes do nothing. */
TAVRINE_API tavrine_status tavrine_tvr_writer_close(tavrine_tvr_writer *writer) ZOLT_NOTHROW;

/* What the writer did so far: input bytes of the segments written, output
 * bytes, members (1 once closed), segments; after a failure its message. */
TAVRINE_API void tavrine_tvr_writer_report(const tavrine_tvr_writer *writer,
                                           tavrine_tvr_report *report) ZOLT_NOTHROW;

#if defined(TAVRINE_HAVE_FD_IO)
/* The same on file descriptors, which stay open. A failed read or write
 * gives TAVRINE_IO_ERROR with the errno value in report->system_error. */
TAVRINE_API tavrine_status tavrine_tvr_compress_fd(int in_fd, int out_fd,
                                                   const tavrine_tvr_settings *settings,
                                                   tavrine_tvr_report *report) ZOLT_NOTHROW;
TAVRINE_API tavrine_status tavrine_tvr_decompress_fd(int in_fd, int out_fd,
                                                     const tavrine_tvr_settings *settings,
                                                     tavrine_tvr_report *report) ZOLT_NOTHROW;
#endif

#ifdef __cplusplus
}
#endif

#endif /* TAVRINE_API_H */
