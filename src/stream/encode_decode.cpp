// The encode and decode exports. Until the block loops land they test their
// arguments and refuse any real work.
#include <cstdint>

#include "interface/export.h"

extern "C" {

TAVRINE_ENTRY int ZOLT_CALL ZOLT_Encode(uint32_t type, uint32_t variant, const void* src,
                                        uint32_t srcLen, void* dst, uint32_t* dstLen,
                                        ZOLT_ProgressCallback /*callback*/, void* /*user*/) noexcept {
    if (dstLen == nullptr) return 0;
    if (ZOLT_IsSupportedEncodeType(type, variant) == 0) return 0;
    if (srcLen == 0) {
        *dstLen = 0;
        return 1;
    }
    if (src == nullptr || dst == nullptr) return 0;
    return 0;  // not implemented yet
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_Decode(uint32_t type, const void* src, uint32_t srcLen, void* dst,
                                        uint32_t* dstLen, ZOLT_ProgressCallback /*callback*/,
                                        void* /*user*/) noexcept {
    if (dstLen == nullptr) return 0;
    if (ZOLT_IsSupportedDecodeType(type) == 0) return 0;
    if (srcLen == 0) {
        *dstLen = 0;
        return 1;
    }
    if (src == nullptr || dst == nullptr) return 0;
    return 0;  // not implemented yet
}

}  // extern "C"
