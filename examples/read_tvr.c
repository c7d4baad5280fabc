/*
 * Reading a .tvr file: every segment is decoded on two worker threads and
 * written out only once its checksum matched; the call succeeds only once
 * every checksum of the file did. Usage: tavrine-read-tvr FILE.tvr > OUT
 */
#include <stdio.h>

#include "tavrine_api.h"

static size_t readFrom(void *user, void *buffer, size_t capacity) {
    FILE *in = (FILE *)user;
    size_t got = fread(buffer, 1, capacity, in);
    return got == 0 && ferror(in) ? TAVRINE_READ_FAILED : got;
}

static int writeTo(void *user, const void *data, size_t size) {
    return fwrite(data, 1, size, (FILE *)user) == size ? 0 : 1;
}

int main(int argc, char **argv) {
    tavrine_tvr_settings settings;
    tavrine_tvr_report report;
    tavrine_status status;
    FILE *in;

    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.tvr > OUT\n", argv[0]);
        return 2;
    }
    in = fopen(argv[1], "rb");
    if (in == NULL) {
        fprintf(stderr, "%s: cannot open it\n", argv[1]);
        return 1;
    }
    tavrine_tvr_settings_init(&settings);
    settings.threads = 2;
    status = tavrine_tvr_decompress(readFrom, in, writeTo, stdout, &settings, &report);
    fclose(in);
    if (status != TAVRINE_OK) {
        /* What was found, where, and in plain words. */
        fprintf(stderr, "%s: %s at byte %lu: %s\n", argv[1], tavrine_status_text(status),
                (unsigned long)report.fault_offset, report.message);
        return 1;
    }
    fprintf(stderr, "%s: %lu segments, %lu bytes decoded\n", argv[1],
            (unsigned long)report.segments, (unsigned long)report.bytes_out);
    return fflush(stdout) == 0 ? 0 : 1;
}
