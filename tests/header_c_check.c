/* The public header compiles as strict C99; this file is only syntax-checked. */
#include "tavrine.h"

static int ZOLT_CALL keepGoing(void *user, uint32_t done, uint32_t total) {
    (void)user;
    return done <= total;
}

int headerCheck(void);
int headerCheck(void) {
    ZOLT_ProgressCallback callback = keepGoing;
    uint32_t version = 0;
    return ZOLT_GetInterfaceVersion(&version, 0) && callback != 0;
}
