/*
 * A host linked with TavrineEncode.dll at load time through an import library:
 * it calls each of the eleven exports once by its prototype in tavrine.h, so
 * the program loads only if every import resolves to its export by name, and
 * a call bound to another function fails a check.
 *
 * It uses no C runtime, so that it links like a Microsoft-compiled host with
 * nothing but the module's .lib (TAVRINE_HOST_WITHOUT_CRT: the process starts
 * at hostEntry). The exit status is 0, or the number of the first failed check.
 */
#include "tavrine.h"

enum { kTextLength = 48 };
static const unsigned char kText[kTextLength + 1] = "abracadabra, abracadabra, abracadabra, abracadab";
static unsigned char stream[256];
static unsigned char restored[kTextLength];

static uint32_t reports;

static int ZOLT_CALL countReport(void *user, uint32_t done, uint32_t total) {
    (void)user;
    ++reports;
    return done <= total;
}

static int sameAsText(const unsigned char *bytes) {
    int i;
    for (i = 0; i < kTextLength; ++i) {
        if (bytes[i] != kText[i]) return 0;
    }
    return 1;
}

static int runChecks(void) {
    uint32_t word = 0, count = 0, streamLength = sizeof stream, restoredLength = sizeof restored;
    const uint32_t *table = 0;

    if (!ZOLT_GetInterfaceVersion(&word, 0) || word != 0x007D84A0u) return 1;
    if (!ZOLT_VerifyInterfaceVersion(word, 0)) return 2;
    if (!ZOLT_MakeInterfaceVersion(&word, 0, 63, 1, 4095, 15, 31, 7) || word != 0x7FFFFFFFu) return 3;
    if (!ZOLT_GetSupportedEncodeType(&table, &count) || count != 2 || table[3] != 5) return 4;
    if (!ZOLT_IsSupportedEncodeType(2, 5) || ZOLT_IsSupportedEncodeType(2, 1)) return 5;
    if (!ZOLT_GetMaximumEncodedLength(2, 5, 65536, &word) || word != 73782) return 6;
    if (!ZOLT_GetSupportedDecodeType(&table, &count) || count != 1 || table[0] != 2) return 7;
    if (!ZOLT_IsSupportedDecodeType(2) || ZOLT_IsSupportedDecodeType(3)) return 8;
    if (!ZOLT_Encode(2, 5, kText, kTextLength, stream, &streamLength, countReport, 0) ||
        reports != 2)
        return 9;
    if (!ZOLT_GetDecodedLength(2, stream, streamLength, &word) || word != kTextLength) return 10;
    if (!ZOLT_Decode(2, stream, streamLength, restored, &restoredLength, 0, 0) ||
        restoredLength != kTextLength || !sameAsText(restored))
        return 11;
    return 0;
}

#if defined(TAVRINE_HOST_WITHOUT_CRT)
/* The process entry, as a C runtime's own would be: the value returned is the
 * exit status. */
int hostEntry(void);
int hostEntry(void) { return runChecks(); }
#else
int main(void) { return runChecks(); }
#endif
