// The streaming encoder and decoder behind their C handles. A failure stays
// with the handle: the coding state after it is not one a stream can go on from.
#include <memory>
#include <new>

#include "api/api_call.h"
#include "api/stream_testing.h"
#include "stream/stream_decoder.h"
#include "stream/stream_encoder.h"
#include "stream/stream_format.h"

struct tavrine_encoder {
    explicit tavrine_encoder(std::uint32_t variant) : coder(variant) {}
    tavrine::StreamEncoder coder;
    tavrine_status failure = TAVRINE_OK;
};

struct tavrine_decoder {
    tavrine::StreamDecoder coder;
    tavrine_status failure = TAVRINE_OK;
};

namespace {

// A window must lie inside its buffer, and a buffer with room must exist.
bool windowsValid(const tavrine_out_buffer* out, const tavrine_in_buffer* in) noexcept {
    if (out == nullptr || out->pos > out->size || (out->dst == nullptr && out->size != 0)) {
        return false;
    }
    return in == nullptr || (in->pos <= in->size && (in->src != nullptr || in->size == 0));
}

tavrine::OutputWindow outputWindow(const tavrine_out_buffer& out) noexcept {
    return {static_cast<std::uint8_t*>(out.dst), out.size, out.pos};
}

tavrine::InputWindow inputWindow(const tavrine_in_buffer* in) noexcept {
    if (in == nullptr) return {nullptr, 0, 0};
    return {static_cast<const std::uint8_t*>(in->src), in->size, in->pos};
}

bool directiveValid(tavrine_directive directive) noexcept {
    return directive == TAVRINE_CONTINUE || directive == TAVRINE_FLUSH || directive == TAVRINE_END;
}

tavrine::Directive toDirective(tavrine_directive directive) noexcept {
    if (directive == TAVRINE_END) return tavrine::Directive::end;
    if (directive == TAVRINE_FLUSH) return tavrine::Directive::flush;
    return tavrine::Directive::proceed;
}

// Creates a handle; memory exhaustion while obtaining it or its buffers
// leaves *handle null.
template <typename Handle, typename... Arguments>
tavrine_status createHandle(Handle** handle, Arguments... arguments) noexcept {
    return tavrine::api::guardedCall([&] {
        *handle = std::make_unique<Handle>(arguments...).release();
        return TAVRINE_OK;
    });
}

}  // namespace

extern "C" {

TAVRINE_ENTRY tavrine_status tavrine_encoder_create(uint32_t variant,
                                                    tavrine_encoder** encoder) noexcept {
    if (encoder == nullptr) return TAVRINE_BAD_ARGUMENT;
    *encoder = nullptr;
    if (ZOLT_IsSupportedEncodeType(TAVRINE_STREAM_TYPE, variant) == 0) return TAVRINE_BAD_ARGUMENT;
    return createHandle(encoder, variant);
}

TAVRINE_ENTRY void tavrine_encoder_free(tavrine_encoder* encoder) noexcept { delete encoder; }

TAVRINE_ENTRY tavrine_status tavrine_encode_stream(tavrine_encoder* encoder,
                                                   tavrine_out_buffer* out, tavrine_in_buffer* in,
                                                   tavrine_directive directive,
                                                   size_t* remaining) noexcept {
    if (encoder == nullptr || !windowsValid(out, in) || !directiveValid(directive)) {
        return TAVRINE_BAD_ARGUMENT;
    }
    if (encoder->failure != TAVRINE_OK) return encoder->failure;
    if (encoder->coder.ended() && in != nullptr && in->pos != in->size) return TAVRINE_BAD_ARGUMENT;
    tavrine::OutputWindow output = outputWindow(*out);
    tavrine::InputWindow input = inputWindow(in);
    std::size_t left = 0;
    const tavrine_status status = tavrine::api::guardedCall([&] {
        left = encoder->coder.encode(output, input, toDirective(directive));
        return TAVRINE_OK;
    });
    out->pos = output.pos;
    if (in != nullptr) in->pos = input.pos;
    if (remaining != nullptr) *remaining = left;
    encoder->failure = status;
    return status;
}

TAVRINE_ENTRY tavrine_status tavrine_encoder_set_threads(tavrine_encoder* encoder,
                                                         uint32_t threads) noexcept {
    if (encoder == nullptr || threads > TAVRINE_MAX_THREADS || encoder->coder.started()) {
        return TAVRINE_BAD_ARGUMENT;
    }
    if (encoder->failure != TAVRINE_OK) return encoder->failure;
    // Without its workers the encoder goes on, on the caller's thread.
    return tavrine::api::guardedCall([&] {
        encoder->coder.setThreads(threads);
        return TAVRINE_OK;
    });
}

TAVRINE_ENTRY tavrine_status tavrine_decoder_create(tavrine_decoder** decoder) noexcept {
    if (decoder == nullptr) return TAVRINE_BAD_ARGUMENT;
    *decoder = nullptr;
    return createHandle(decoder);
}

TAVRINE_ENTRY void tavrine_decoder_free(tavrine_decoder* decoder) noexcept { delete decoder; }

TAVRINE_ENTRY tavrine_status tavrine_decode_stream(tavrine_decoder* decoder,
                                                   tavrine_out_buffer* out, tavrine_in_buffer* in,
                                                   tavrine_directive directive,
                                                   size_t* remaining) noexcept {
    if (decoder == nullptr || !windowsValid(out, in) || !directiveValid(directive)) {
        return TAVRINE_BAD_ARGUMENT;
    }
    if (decoder->failure != TAVRINE_OK) return decoder->failure;
    tavrine::OutputWindow output = outputWindow(*out);
    tavrine::InputWindow input = inputWindow(in);
    std::size_t held = 0;
    const tavrine_status status = tavrine::api::guardedCall([&] {
        return tavrine::api::toStatus(
            decoder->coder.decode(output, input, toDirective(directive), held));
    });
    out->pos = output.pos;
    if (in != nullptr) in->pos = input.pos;
    if (remaining != nullptr) *remaining = held;
    decoder->failure = status;
    return status;
}

TAVRINE_ENTRY tavrine_status tavrine_decoder_set_threads(tavrine_decoder* decoder,
                                                         uint32_t threads) noexcept {
    if (decoder == nullptr || threads > TAVRINE_MAX_THREADS || decoder->coder.started()) {
        return TAVRINE_BAD_ARGUMENT;
    }
    if (decoder->failure != TAVRINE_OK) return decoder->failure;
    return tavrine::api::guardedCall([&] {
        decoder->coder.setThreads(threads);
        return TAVRINE_OK;
    });
}

TAVRINE_ENTRY uint64_t tavrine_decoder_offset(const tavrine_decoder* decoder) noexcept {
    return decoder != nullptr ? decoder->coder.blockOffset() : 0;
}

}  // extern "C"

#if defined(TAVRINE_TEST_HOOKS)
namespace tavrine::testing {

void startThreadsFrom(tavrine_encoder* encoder, std::uint64_t bytes) noexcept {
    encoder->coder.startThreadsFrom(bytes);
}

void startThreadsFrom(tavrine_decoder* decoder, std::uint64_t bytes) noexcept {
    decoder->coder.startThreadsFrom(bytes);
}

}  // namespace tavrine::testing
#endif
