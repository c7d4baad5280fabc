/*
 * A Windows host that encodes and decodes files through TavrineEncode.dll,
 * resolving ZOLT_Encode, ZOLT_Decode and the length queries by ordinal. Every
 * file goes through both variants; each stream must decode to the file, and is
 * written to OUTDIR as NAME.v0 and NAME.v5 for comparison with other builds.
 * Usage: host_codec TavrineEncode.dll LISTFILE OUTDIR   (LISTFILE: one path per line)
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int(__stdcall *ProgressFn)(void *, uint32_t, uint32_t);
typedef int(__stdcall *MaxLengthFn)(uint32_t, uint32_t, uint32_t, uint32_t *);
typedef int(__stdcall *EncodeFn)(uint32_t, uint32_t, const void *, uint32_t, void *, uint32_t *,
                                 ProgressFn, void *);
typedef int(__stdcall *DecodedLengthFn)(uint32_t, const void *, uint32_t, uint32_t *);
typedef int(__stdcall *DecodeFn)(uint32_t, const void *, uint32_t, void *, uint32_t *, ProgressFn,
                                 void *);

static MaxLengthFn maxLength;
static EncodeFn encode;
static DecodedLengthFn decodedLength;
static DecodeFn decode;

/* An export by ordinal, to be cast to its own type: GetProcAddress's FARPROC
 * returns INT_PTR, which on x86-64 no export's int result matches. */
typedef void (*AnyFn)(void);
static AnyFn byOrdinal(HMODULE module, WORD ordinal) {
    return (AnyFn)GetProcAddress(module, (LPCSTR)(ULONG_PTR)ordinal);
}

struct Progress {
    uint32_t reports;
    uint32_t lastDone;
};

/* Called by the module with the callee-pops convention it expects. */
static int __stdcall countReports(void *user, uint32_t done, uint32_t total) {
    struct Progress *progress = (struct Progress *)user;
    ++progress->reports;
    progress->lastDone = done;
    return done <= total;
}

static unsigned char *readWhole(const char *path, uint32_t *length) {
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
        *length = (uint32_t)size;
    }
    fclose(in);
    return data;
}

static const char *baseName(const char *path) {
    const char *slash = strrchr(path, '/');
    const char *backslash = strrchr(path, '\\');
    if (backslash > slash) slash = backslash;
    return slash ? slash + 1 : path;
}

/* Encodes, checks and writes one variant of one file; 0 on any failure. */
static int roundTrip(const char *path, const unsigned char *src, uint32_t srcLen, uint32_t variant,
                     const char *outDir) {
    uint32_t bound = 0, streamLen, announced = 0, decodedLen;
    unsigned char *stream, *restored;
    struct Progress progress = {0, 0};
    char outPath[MAX_PATH];
    FILE *out;
    int ok = 1;

    if (!maxLength(2, variant, srcLen, &bound)) return 0;
    stream = malloc(bound);
    restored = malloc(srcLen + 1);
    if (stream == NULL || restored == NULL) return 0;
    streamLen = bound;
    if (!encode(2, variant, src, srcLen, stream, &streamLen, countReports, &progress) ||
        progress.lastDone != srcLen || progress.reports != (srcLen + 8191) / 8192 + 1) {
        fprintf(stderr, "%s: encoding variant %u failed\n", path, (unsigned)variant);
        ok = 0;
    } else if (!decodedLength(2, stream, streamLen, &announced) || announced != srcLen) {
        fprintf(stderr, "%s: decoded length %u, expected %u\n", path, (unsigned)announced,
                (unsigned)srcLen);
        ok = 0;
    } else {
        decodedLen = announced;
        if (!decode(2, stream, streamLen, restored, &decodedLen, NULL, NULL) ||
            decodedLen != srcLen || memcmp(restored, src, srcLen) != 0) {
            fprintf(stderr, "%s: variant %u does not decode to the file\n", path, (unsigned)variant);
            ok = 0;
        }
    }
    if (ok) {
        snprintf(outPath, sizeof outPath, "%s/%s.v%u", outDir, baseName(path), (unsigned)variant);
        out = fopen(outPath, "wb");
        if (out == NULL || fwrite(stream, 1, streamLen, out) != streamLen || fclose(out) != 0) {
            fprintf(stderr, "%s: cannot write\n", outPath);
            ok = 0;
        }
    }
    free(stream);
    free(restored);
    return ok;
}

int main(int argc, char **argv) {
    HMODULE module;
    FILE *list;
    char line[MAX_PATH];
    int files = 0, failures = 0;

    if (argc != 4) {
        fprintf(stderr, "usage: %s TavrineEncode.dll LISTFILE OUTDIR\n", argv[0]);
        return 2;
    }
    module = LoadLibraryA(argv[1]);
    if (module == NULL) {
        fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    maxLength = (MaxLengthFn)byOrdinal(module, 13);
    encode = (EncodeFn)byOrdinal(module, 14);
    decodedLength = (DecodedLengthFn)byOrdinal(module, 17);
    decode = (DecodeFn)byOrdinal(module, 18);
    if (!maxLength || !encode || !decodedLength || !decode) {
        fprintf(stderr, "an export is missing\n");
        return 1;
    }
    CreateDirectoryA(argv[3], NULL);
    list = fopen(argv[2], "r");
    if (list == NULL) {
        fprintf(stderr, "%s: cannot read the file list\n", argv[2]);
        return 1;
    }
    while (fgets(line, sizeof line, list) != NULL) {
        uint32_t length = 0;
        unsigned char *data;
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0') continue;
        data = readWhole(line, &length);
        if (data == NULL) {
            fprintf(stderr, "%s: cannot read\n", line);
            ++failures;
            continue;
        }
        failures += !roundTrip(line, data, length, 0, argv[3]);
        failures += !roundTrip(line, data, length, 5, argv[3]);
        free(data);
        ++files;
    }
    fclose(list);
    FreeLibrary(module);
    printf("TavrineEncode.dll: %d files encoded and decoded in both variants, %d failures\n", files,
           failures);
    return failures == 0 && files > 0 ? 0 : 1;
}
