/* The public C headers compile as C89, C99, C++98 and C++20 (this file is
 * compiled as each, warnings as errors, and only syntax-checked). */
#include "tavrine.h"
#include "tavrine_api.h"

static int ZOLT_CALL keepGoing(void *user, uint32_t done, uint32_t total) {
    (void)user;
    return done <= total;
}

static size_t readNothing(void *user, void *buffer, size_t capacity) {
    (void)user;
    (void)buffer;
    (void)capacity;
    return 0;
}

int headerCheck(void);
int headerCheck(void) {
    ZOLT_ProgressCallback callback = keepGoing;
    tavrine_read_function read = readNothing;
    tavrine_tvr_settings settings;
    tavrine_in_buffer in = {0, 0, 0};
    tavrine_status status = TAVRINE_OK;
    uint32_t version = 0;
    (void)in;
    tavrine_tvr_settings_init(&settings);
    status = ZOLT_IsSupportedEncodeType(TAVRINE_STREAM_TYPE, TAVRINE_VARIANT_UNCODED) &&
                     ZOLT_IsSupportedEncodeType(TAVRINE_STREAM_TYPE, TAVRINE_VARIANT_RANGE_CODED)
                 ? TAVRINE_OK
                 : TAVRINE_BAD_ARGUMENT;
    return ZOLT_GetInterfaceVersion(&version, 0) && callback != 0 && read != 0 &&
           status == TAVRINE_OK && TAVRINE_VERSION_MAJOR >= 0;
}
