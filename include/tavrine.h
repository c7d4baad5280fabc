/*
 * tavrine - block-sorting compression codec.
 *
 * The C interface of the codec module. Every function returns 1 on success and
 * 0 on failure; there are no error codes (tavrine_api.h has calls that say why
 * they failed). Results travel through pointer arguments.
 *
 * The length word of ZOLT_Encode and ZOLT_Decode (*dstLen) is read once, as
 * the output capacity, before any work, and written at most once, when the
 * block loop has run to its end:
 *   - on success, with the length of the output (0 for an empty source);
 *   - when the progress callback returns 0 at the final report, which comes
 *     after the length is written: the output is complete and the word holds
 *     its length, but the result is 0;
 *   - when ZOLT_Decode meets a range-coded block that holds more symbols than
 *     its header announces: the word holds the decoded length of the blocks
 *     before it, the final report is made with done = that block's stream
 *     offset, and the result is 0.
 * Every other failure leaves the word untouched and makes no final report.
 *
 * Type id 2 (TAVRINE_STREAM_TYPE) is the only stream type. It is encoded with
 * variant 0 (TAVRINE_VARIANT_UNCODED: every block stored block-sorted but not
 * entropy coded) or variant 5 (TAVRINE_VARIANT_RANGE_CODED: blocks range coded
 * where that is shorter). The decoder reads the kind of every block from its
 * header and needs no variant.
 *
 * Threads: on Linux and other platforms with a thread-safe C allocator, calls
 * may overlap freely; each call owns all of its working memory. The Windows
 * module TavrineEncode.dll (32- and 64-bit) takes its working memory from a
 * private, unserialised heap: a host calls its ZOLT_Encode and ZOLT_Decode
 * from one thread at a time. The query functions are safe from any thread.
 */
#ifndef TAVRINE_H
#define TAVRINE_H

#include <stdint.h>

/* The library's version; tavrine_version() in tavrine_api.h gives it at run time. */
#define TAVRINE_VERSION_MAJOR 0
#define TAVRINE_VERSION_MINOR 1
#define TAVRINE_VERSION_PATCH 0

/* The stream type and its two encode variants. */
#define TAVRINE_STREAM_TYPE 2u
#define TAVRINE_VARIANT_UNCODED 0u
#define TAVRINE_VARIANT_RANGE_CODED 5u

/* Callee-pops standard calling convention on 32-bit Windows, the platform's
 * default convention elsewhere. Exports and the progress callback use it. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZOLT_CALL __stdcall
#else
#define ZOLT_CALL
#endif

#if defined(TAVRINE_BUILDING) && !defined(_WIN32)
#define ZOLT_API __attribute__((visibility("default")))
#else
#define ZOLT_API
#endif

/* No function of this interface lets an exception escape. Compilers before
 * C++11 know no noexcept; MSVC states its language level in _MSVC_LANG. */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201103L))
#define ZOLT_NOTHROW noexcept
#elif defined(__cplusplus)
#define ZOLT_NOTHROW throw()
#else
#define ZOLT_NOTHROW
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Progress report: done of total source bytes (encoding) or stream bytes
 * (decoding). Return nonzero to continue, 0 to abort the call. Called on the
 * caller's thread, inside the call. */
typedef int(ZOLT_CALL *ZOLT_ProgressCallback)(void *user, uint32_t done, uint32_t total);

/* The module's interface version word (0x007D84A0). */
ZOLT_API int ZOLT_CALL ZOLT_GetInterfaceVersion(uint32_t *out, uint32_t reserved) ZOLT_NOTHROW;

/* 1 when the version's major field (bits 25-30) is zero, whatever else it holds. */
ZOLT_API int ZOLT_CALL ZOLT_VerifyInterfaceVersion(uint32_t version, uint32_t reserved) ZOLT_NOTHROW;

/* Packs major (0-63), flag (0-1), year (0-4095), month (0-15), day (0-31) and
 * serial (0-7) into a version word; 0, with *out untouched, if one is out of range. */
ZOLT_API int ZOLT_CALL ZOLT_MakeInterfaceVersion(uint32_t *out, uint32_t reserved, uint32_t major,
                                                 uint32_t flag, uint32_t year, uint32_t month,
                                                 uint32_t day, uint32_t serial) ZOLT_NOTHROW;

/* The encode type table: *count pairs (type id, variant). Either pointer may be null. */
ZOLT_API int ZOLT_CALL ZOLT_GetSupportedEncodeType(const uint32_t **table, uint32_t *count) ZOLT_NOTHROW;

/* 1 for (2, 0) and (2, 5). */
ZOLT_API int ZOLT_CALL ZOLT_IsSupportedEncodeType(uint32_t type, uint32_t variant) ZOLT_NOTHROW;

/* Output capacity that always suffices to encode srcLen bytes:
 * (ceil(srcLen / 8192) + 1) * 8198, in 32-bit arithmetic (exact up to 4,291,813,376). */
ZOLT_API int ZOLT_CALL ZOLT_GetMaximumEncodedLength(uint32_t type, uint32_t variant, uint32_t srcLen,
                                                    uint32_t *out) ZOLT_NOTHROW;

/* The decode type table: *count type ids. Either pointer may be null. */
ZOLT_API int ZOLT_CALL ZOLT_GetSupportedDecodeType(const uint32_t **table, uint32_t *count) ZOLT_NOTHROW;

/* 1 for type id 2. */
ZOLT_API int ZOLT_CALL ZOLT_IsSupportedDecodeType(uint32_t type) ZOLT_NOTHROW;

/* Sum of the decoded lengths in the block headers of a stream, without
 * decoding it; 0 when the headers do not tile srcLen bytes exactly (then *out
 * holds the lengths of the blocks walked before the failing one). */
ZOLT_API int ZOLT_CALL ZOLT_GetDecodedLength(uint32_t type, const void *src, uint32_t srcLen,
                                             uint32_t *out) ZOLT_NOTHROW;

/* Encodes srcLen bytes of src into dst; *dstLen is the capacity on entry and
 * the stream length on success. A capacity of ZOLT_GetMaximumEncodedLength
 * always suffices. */
ZOLT_API int ZOLT_CALL ZOLT_Encode(uint32_t type, uint32_t variant, const void *src, uint32_t srcLen,
                                   void *dst, uint32_t *dstLen, ZOLT_ProgressCallback callback,
                                   void *user) ZOLT_NOTHROW;

/* Decodes a stream of srcLen bytes into dst; *dstLen is the capacity on entry
 * and the decoded length on success. Any bytes at all are safe to pass. */
ZOLT_API int ZOLT_CALL ZOLT_Decode(uint32_t type, const void *src, uint32_t srcLen, void *dst,
                                   uint32_t *dstLen, ZOLT_ProgressCallback callback,
                                   void *user) ZOLT_NOTHROW;

#ifdef __cplusplus
}
#endif

#endif /* TAVRINE_H */
