/*
 * A Windows host of TavrineEncode.dll: loads the module at run time, resolves
 * every export by name and by ordinal, and drives the interface through it.
 * The function types are __stdcall, which on x86-64 is the one convention.
 * Usage: wine_host_test TavrineEncode.dll
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef int(__stdcall *GetVersionFn)(uint32_t *, uint32_t);
typedef int(__stdcall *VerifyVersionFn)(uint32_t, uint32_t);
typedef int(__stdcall *MakeVersionFn)(uint32_t *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                      uint32_t, uint32_t);
typedef int(__stdcall *GetTableFn)(const uint32_t **, uint32_t *);
typedef int(__stdcall *IsEncodeTypeFn)(uint32_t, uint32_t);
typedef int(__stdcall *MaxLengthFn)(uint32_t, uint32_t, uint32_t, uint32_t *);
typedef int(__stdcall *IsDecodeTypeFn)(uint32_t);
typedef int(__stdcall *DecodedLengthFn)(uint32_t, const void *, uint32_t, uint32_t *);
typedef int(__stdcall *ProgressFn)(void *, uint32_t, uint32_t);
typedef int(__stdcall *EncodeFn)(uint32_t, uint32_t, const void *, uint32_t, void *, uint32_t *,
                                 ProgressFn, void *);
typedef int(__stdcall *DecodeFn)(uint32_t, const void *, uint32_t, void *, uint32_t *, ProgressFn,
                                 void *);

/* An export's address, to be cast to its own type: GetProcAddress's FARPROC
 * returns INT_PTR, which on x86-64 no export's int result matches. */
typedef void (*AnyFn)(void);

struct Export {
    const char *name;
    WORD ordinal;
    AnyFn address;
};

static struct Export exports[] = {
    {"ZOLT_GetInterfaceVersion", 1, NULL},     {"ZOLT_VerifyInterfaceVersion", 2, NULL},
    {"ZOLT_MakeInterfaceVersion", 3, NULL},    {"ZOLT_GetSupportedEncodeType", 11, NULL},
    {"ZOLT_IsSupportedEncodeType", 12, NULL},  {"ZOLT_GetMaximumEncodedLength", 13, NULL},
    {"ZOLT_Encode", 14, NULL},                 {"ZOLT_GetSupportedDecodeType", 15, NULL},
    {"ZOLT_IsSupportedDecodeType", 16, NULL},  {"ZOLT_GetDecodedLength", 17, NULL},
    {"ZOLT_Decode", 18, NULL},
};
enum { kExportCount = sizeof exports / sizeof exports[0] };

static int failures = 0;
#if defined(__i386__)
/* Bit n is set once the query checks have run with the stack pointer at 4n
 * modulo 16. */
static unsigned alignmentsSeen = 0;
#endif

#define CHECK(condition)                                                      \
    do {                                                                      \
        if (!(condition)) {                                                   \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                       \
        }                                                                     \
    } while (0)

static FARPROC byOrdinal(HMODULE module, WORD ordinal) {
    return GetProcAddress(module, (LPCSTR)(ULONG_PTR)ordinal);
}

static void checkExportTable(HMODULE module) {
    int i;
    WORD ordinal;
    for (i = 0; i < kExportCount; ++i) {
        FARPROC named = GetProcAddress(module, exports[i].name);
        FARPROC numbered = byOrdinal(module, exports[i].ordinal);
        if (named == NULL || named != numbered) {
            fprintf(stderr, "%s: by name %p, by ordinal %u %p\n", exports[i].name, (void *)named,
                    exports[i].ordinal, (void *)numbered);
            ++failures;
        }
        exports[i].address = (AnyFn)numbered;
    }
    for (ordinal = 4; ordinal <= 10; ++ordinal) CHECK(byOrdinal(module, ordinal) == NULL);
    CHECK(byOrdinal(module, 19) == NULL);
    CHECK(GetProcAddress(module, "_ZOLT_Encode@32") == NULL);
    CHECK(GetProcAddress(module, "ZOLT_Encode@32") == NULL);
}

static AnyFn at(WORD ordinal) {
    int i;
    for (i = 0; i < kExportCount; ++i) {
        if (exports[i].ordinal == ordinal) return exports[i].address;
    }
    return NULL;
}

static void noteStackAlignment(void) {
#if defined(__i386__)
    uintptr_t stack;
    __asm__ volatile("movl %%esp, %0" : "=r"(stack));
    alignmentsSeen |= 1u << ((stack & 15u) / 4u);
#endif
}

static void checkQueries(void) {
    GetVersionFn getVersion = (GetVersionFn)at(1);
    VerifyVersionFn verify = (VerifyVersionFn)at(2);
    MakeVersionFn make = (MakeVersionFn)at(3);
    GetTableFn encodeTable = (GetTableFn)at(11);
    IsEncodeTypeFn isEncodeType = (IsEncodeTypeFn)at(12);
    MaxLengthFn maxLength = (MaxLengthFn)at(13);
    GetTableFn decodeTable = (GetTableFn)at(15);
    IsDecodeTypeFn isDecodeType = (IsDecodeTypeFn)at(16);
    DecodedLengthFn decodedLength = (DecodedLengthFn)at(17);
    EncodeFn encode = (EncodeFn)at(14);
    DecodeFn decode = (DecodeFn)at(18);
    uint8_t buffer[16] = {0};
    uint32_t word = 0;
    const uint32_t *table = NULL;
    uint32_t count = 0;
    static const uint8_t abcStream[] = {0x09, 0x00, 0x03, 0x00, 0x00, 0x00, 0x63, 0x62, 0x63};

    if (failures != 0) return;
    noteStackAlignment();
    CHECK(getVersion(&word, 0) == 1 && word == 0x007D84A0u);
    CHECK(verify(word, 0) == 1);
    CHECK(verify(0x02000000u, 0) == 0);
    CHECK(make(&word, 0, 63, 1, 4095, 15, 31, 7) == 1 && word == 0x7FFFFFFFu);
    word = 42;
    CHECK(make(&word, 0, 64, 0, 0, 0, 0, 0) == 0 && word == 42);
    CHECK(encodeTable(&table, &count) == 1 && count == 2 && table[0] == 2 && table[1] == 0 &&
          table[2] == 2 && table[3] == 5);
    CHECK(decodeTable(&table, &count) == 1 && count == 1 && table[0] == 2);
    CHECK(isEncodeType(2, 5) == 1 && isEncodeType(2, 1) == 0);
    CHECK(isDecodeType(2) == 1 && isDecodeType(3) == 0);
    CHECK(maxLength(2, 0, 65536, &word) == 1 && word == 73782);
    CHECK(decodedLength(2, abcStream, sizeof abcStream, &word) == 1 && word == 3);
    CHECK(decodedLength(2, abcStream, sizeof abcStream - 1, &word) == 0);
    /* The two entry points with the most arguments: a missing length pointer
     * fails before anything else is looked at. */
    CHECK(encode(2, 5, buffer, sizeof buffer, buffer, NULL, NULL, NULL) == 0);
    CHECK(decode(2, abcStream, sizeof abcStream, buffer, NULL, NULL, NULL) == 0);
}

#if defined(__i386__)
/* Runs the query checks with the stack moved down by 4 + shift bytes, so that
 * over shifts 0, 4, 8 and 12 the exports are entered at every 4-byte position
 * modulo 16; code behind them that assumed 16-byte alignment faults. */
static void checkQueriesWithStackShift(unsigned shift) {
    volatile char *pad = __builtin_alloca(4 + shift);
    pad[0] = 0;
    checkQueries();
}

static void checkQueriesAtEveryAlignment(void) {
    unsigned shift;
    for (shift = 0; shift < 16; shift += 4) checkQueriesWithStackShift(shift);
    if (failures == 0 && alignmentsSeen != 0xFu) {
        fprintf(stderr, "the checks ran at stack alignments %#x only\n", alignmentsSeen);
        ++failures;
    }
}
#else
/* The x86-64 convention keeps the stack 16-byte aligned at every call, so the
 * exports are entered at one alignment only. */
static void checkQueriesAtEveryAlignment(void) { checkQueries(); }
#endif

/* Threads started while the module is loaded may reach its DllMain; they must
 * be able to use the exports like the loading thread. */
static DWORD WINAPI queryFromThread(LPVOID unused) {
    GetVersionFn getVersion = (GetVersionFn)at(1);
    uint32_t word = 0;
    (void)unused;
    return getVersion(&word, 0) == 1 && word == 0x007D84A0u;
}

static void checkOtherThread(void) {
    DWORD result = 0;
    HANDLE thread;
    if (failures != 0) return;
    thread = CreateThread(NULL, 0, queryFromThread, NULL, 0, NULL);
    CHECK(thread != NULL);
    if (thread == NULL) return;
    CHECK(WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0);
    CHECK(GetExitCodeThread(thread, &result) && result == 1);
    CloseHandle(thread);
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "TavrineEncode.dll";
    /* Loading runs DllMain for process attach; the loader fails the load with
     * ERROR_DLL_INIT_FAILED when DllMain returns false, so a module handle
     * here means DllMain accepted the attach. */
    HMODULE module = LoadLibraryA(path);
    if (module == NULL) {
        DWORD error = GetLastError();
        fprintf(stderr, "cannot load %s (error %lu%s)\n", path, (unsigned long)error,
                error == ERROR_DLL_INIT_FAILED ? ": DllMain refused the process attach" : "");
        return 1;
    }
    checkExportTable(module);
    checkQueriesAtEveryAlignment();
    checkOtherThread();
    /* Process detach runs DllMain again, which releases the module's heap. */
    CHECK(FreeLibrary(module));
    if (failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    printf("TavrineEncode.dll: exports and queries as expected\n");
    return 0;
}
