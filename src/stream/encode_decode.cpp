// The encode and decode exports: argument tests in their fixed order, then one
// CodecContext for the call, destroyed on every way out.
#include <cstdint>

#include "interface/export.h"
#include "stream/codec_context.h"

extern "C" {

TAVRINE_ENTRY int ZOLT_CALL ZOLT_Encode(uint32_t type, uint32_t variant, const void* src,
                                        uint32_t srcLen, void* dst, uint32_t* dstLen,
                                        ZOLT_ProgressCallback callback, void* user) noexcept {
    if (dstLen == nullptr) return 0;
    if (ZOLT_IsSupportedEncodeType(type, variant) == 0) return 0;
    if (srcLen == 0) {
        *dstLen = 0;
        return 1;
    }
    if (src == nullptr || dst == nullptr) return 0;
    return tavrine::guardedExport([&] {
        const tavrine::EncodeCall call{variant,  static_cast<std::uint8_t*>(dst),
                                       static_cast<const std::uint8_t*>(src),
                                       *dstLen,  srcLen,
                                       dstLen,   callback,
                                       user};
        tavrine::CodecContext context;
        return context.encodeLoop(call);
    });
}

TAVRINE_ENTRY int ZOLT_CALL ZOLT_Decode(uint32_t type, const void* src, uint32_t srcLen, void* dst,
                                        uint32_t* dstLen, ZOLT_ProgressCallback callback,
                                        void* user) noexcept {
    if (dstLen == nullptr) return 0;
    if (ZOLT_IsSupportedDecodeType(type) == 0) return 0;
    if (srcLen == 0) {
        *dstLen = 0;
        return 1;
    }
    if (src == nullptr || dst == nullptr) return 0;
    return tavrine::guardedExport([&] {
        const tavrine::DecodeCall call{static_cast<std::uint8_t*>(dst),
                                       static_cast<const std::uint8_t*>(src),
                                       *dstLen,
                                       srcLen,
                                       dstLen,
                                       callback,
                                       user};
        tavrine::CodecContext context;
        return context.decodeLoop(call);
    });
}

}  // extern "C"
