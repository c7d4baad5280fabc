/*
 * Preloaded into the 32-bit wine processes that run under qemu-i386 user-mode
 * emulation (see run-wine.sh); a 32-bit Linux library, not part of the module.
 *
 * Wine reserves its address space with mmap(MAP_FIXED_NOREPLACE) and relies
 * on the kernel's answer: the mapping lands at the requested address or fails
 * with EEXIST. qemu 7.2 passes the flag on as a mere hint and maps elsewhere
 * when the range is taken; wine then keeps reservations in the wrong places
 * and fails to map its shared user data at 0x7ffe0000. Here every mmap with
 * that flag gets the kernel's contract back.
 *
 * Built freestanding (gcc -m32 -nostdlib) so that no 32-bit C library needs to
 * be installed; the C library symbols are bound when the process loads it.
 */
#include <stddef.h>
#include <stdint.h>

enum {
    kMapFixed = 0x10,              /* MAP_FIXED on Linux */
    kMapFixedNoReplace = 0x100000, /* MAP_FIXED_NOREPLACE on Linux */
    kErrorExists = 17              /* EEXIST */
};
/* The address is asked for as a hint only; MAP_FIXED beside the flag must not
 * turn that into a mapping over whatever is there. */
static const int kHintOnlyMask = ~(kMapFixed | kMapFixedNoReplace);
#define MAP_FAILED_RESULT ((void *)-1)
#define RTLD_NEXT_HANDLE ((void *)-1L)

extern void *dlsym(void *handle, const char *name);
extern int *__errno_location(void);
extern int munmap(void *address, size_t length);
extern int unsetenv(const char *name);

typedef void *(*Mmap32)(void *, size_t, int, int, int, int32_t);
typedef void *(*Mmap64)(void *, size_t, int, int, int, int64_t);

static Mmap32 nextMmap;
static Mmap64 nextMmap64;

static void bindNextMmap(void) {
    nextMmap = (Mmap32)dlsym(RTLD_NEXT_HANDLE, "mmap");
    nextMmap64 = (Mmap64)dlsym(RTLD_NEXT_HANDLE, "mmap64");
}

/* A mapping that did not land where it had to is undone, and the call fails
 * as the kernel would have failed it. */
static void *keepOnlyIfInPlace(void *requested, void *mapped, size_t length) {
    if (mapped == MAP_FAILED_RESULT || mapped == requested) return mapped;
    munmap(mapped, length);
    *__errno_location() = kErrorExists;
    return MAP_FAILED_RESULT;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, int32_t offset) {
    if (nextMmap == NULL) bindNextMmap();
    if ((flags & kMapFixedNoReplace) == 0) {
        return nextMmap(address, length, protection, flags, fd, offset);
    }
    void *mapped = nextMmap(address, length, protection, flags & kHintOnlyMask, fd, offset);
    return keepOnlyIfInPlace(address, mapped, length);
}

void *mmap64(void *address, size_t length, int protection, int flags, int fd, int64_t offset) {
    if (nextMmap64 == NULL) bindNextMmap();
    if ((flags & kMapFixedNoReplace) == 0) {
        return nextMmap64(address, length, protection, flags, fd, offset);
    }
    void *mapped = nextMmap64(address, length, protection, flags & kHintOnlyMask, fd, offset);
    return keepOnlyIfInPlace(address, mapped, length);
}

/* Wine starts native 64-bit helpers (the wineserver, shells) with the
 * environment it inherited; they must not try to preload a 32-bit library.
 * The emulated children get it again from run-wine.sh's preloader. */
__attribute__((constructor)) static void forgetPreload(void) {
    bindNextMmap();
    unsetenv("LD_PRELOAD");
}
