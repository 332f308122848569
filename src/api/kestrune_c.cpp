// The C interface: handles over the C++ one, its errors as status codes. No exception
// crosses into the C caller: each entry point that can allocate runs inside `guarded`.
#include <cstdlib>
#include <cstring>
#include <new>

#include "api/cStatus.h"
#include "kestrune/kestrune.h"
#include "kestrune/kestrune.hpp"

struct kestrune_encoder {
    kestrune::Encoder encoder;
    std::vector<uint8_t> codes;  // held until finish, or until written when streaming
    bool lost = false;           // memory ran out while encoding: codes may be missing
    // Streaming: where the bytes go, the samples announced and given, the payload bytes
    // the header announced and those written.
    kestrune_write_fn write = nullptr;
    void* context = nullptr;
    uint64_t announced = 0, given = 0, payload = 0, written = 0;

    // Writes the codes decided so far, when streaming.
    kestrune_status flush() {
        if (write == nullptr || codes.empty()) return KESTRUNE_OK;
        if (write(context, codes.data(), codes.size()) != 0) return KESTRUNE_WRITE_FAILED;
        written += codes.size();
        codes.clear();
        return KESTRUNE_OK;
    }
};

namespace {

using kestrune::detail::cStatus;

// The entry point's status; an allocation that fails is KESTRUNE_OUT_OF_MEMORY. The only
// exceptions the library raises come from allocating (bad_alloc, or length_error for a
// size beyond any memory), so any exception is taken for one.
template <class Body>
kestrune_status guarded(Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return KESTRUNE_OUT_OF_MEMORY;
    }
}

// An encoder's step, guarded. Once memory has run out in one, codes may be missing, so it
// answers KESTRUNE_OUT_OF_MEMORY from then on rather than hand out a damaged file.
template <class Body>
kestrune_status encoding(kestrune_encoder* e, Body body) noexcept {
    if (e != nullptr && e->lost) return KESTRUNE_OUT_OF_MEMORY;
    const kestrune_status s = guarded(body);
    if (e != nullptr && s == KESTRUNE_OUT_OF_MEMORY) e->lost = true;
    return s;
}

// A copy in memory the caller frees with kestrune_free.
template <class T>
kestrune_status handOut(const std::vector<T>& v, T** out, std::size_t* count) {
    *out = static_cast<T*>(std::malloc(std::max<std::size_t>(v.size(), 1) * sizeof(T)));
    if (*out == nullptr) return KESTRUNE_OUT_OF_MEMORY;
    if (!v.empty()) std::memcpy(*out, v.data(), v.size() * sizeof(T));
    *count = v.size();
    return KESTRUNE_OK;
}

}  // namespace

extern "C" {

const char* kestrune_version(void) {
    return kestrune::version();
}

const char* kestrune_status_message(kestrune_status s) {
    if (s == KESTRUNE_NULL_ARGUMENT) return "a pointer that must be given is null";
    return kestrune::message(static_cast<kestrune::Error>(s));
}

kestrune_status kestrune_encoder_new(uint32_t rate, int bits, int level, kestrune_encoder** out) {
    return kestrune_encoder_new_tuned(rate, bits, level, KESTRUNE_TUNE_PERCEPTUAL, out);
}

kestrune_status kestrune_encoder_new_tuned(uint32_t rate, int bits, int level, int tune,
                                           kestrune_encoder** out) {
    return guarded([&] {
        if (out == nullptr) return KESTRUNE_NULL_ARGUMENT;
        *out = nullptr;
        kestrune::Result<kestrune::Encoder> e =
            kestrune::Encoder::create({rate, bits, level, static_cast<kestrune::Tune>(tune)});
        if (!e) return cStatus(e.error());
        *out = new kestrune_encoder{std::move(*e), {}};
        return KESTRUNE_OK;
    });
}

kestrune_status kestrune_encoder_new_streaming(uint32_t rate, int bits, int level, int tune,
                                               uint64_t samples, kestrune_write_fn write,
                                               void* context, kestrune_encoder** out) {
    if (out != nullptr) *out = nullptr;
    if (write == nullptr) return KESTRUNE_NULL_ARGUMENT;
    kestrune_encoder* e = nullptr;
    const kestrune_status made = kestrune_encoder_new_tuned(rate, bits, level, tune, &e);
    if (made != KESTRUNE_OK) return made;
    e->write = write;
    e->context = context;
    e->announced = samples;
    e->payload = samples / kestrune::samplesPerByte(bits);
    if (e->payload > kestrune::kMaxPayloadBytes) {
        kestrune_encoder_free(e);
        return KESTRUNE_TOO_LONG;
    }
    const auto header = e->encoder.header(static_cast<uint32_t>(e->payload));
    if (write(context, header.data(), header.size()) != 0) {
        kestrune_encoder_free(e);
        return KESTRUNE_WRITE_FAILED;
    }
    *out = e;
    return KESTRUNE_OK;
}

kestrune_status kestrune_encode(kestrune_encoder* e, const int16_t* samples, size_t count) {
    return encoding(e, [&] {
        if (e == nullptr || (samples == nullptr && count > 0)) return KESTRUNE_NULL_ARGUMENT;
        e->given += count;
        const kestrune::Error err = e->encoder.encode({samples, count}, e->codes);
        return err != kestrune::Error::none ? cStatus(err) : e->flush();
    });
}

kestrune_status kestrune_encoder_finish(kestrune_encoder* e, uint8_t** file, size_t* size) {
    return encoding(e, [&] {
        if (e == nullptr) return KESTRUNE_NULL_ARGUMENT;
        if (e->write != nullptr) {
            if (file != nullptr) *file = nullptr;
            if (size != nullptr) *size = 0;
        } else if (file == nullptr || size == nullptr) {
            return KESTRUNE_NULL_ARGUMENT;
        }
        if (const kestrune::Error err = e->encoder.finish(e->codes); err != kestrune::Error::none) {
            return cStatus(err);
        }
        if (e->write != nullptr) {
            const kestrune_status s = e->flush();
            if (s != KESTRUNE_OK) return s;
            const bool as = e->given == e->announced && e->written == e->payload;
            return as ? KESTRUNE_OK : KESTRUNE_LENGTH_MISMATCH;
        }
        const auto header = e->encoder.header(static_cast<uint32_t>(e->codes.size()));
        e->codes.insert(e->codes.begin(), header.begin(), header.end());
        return handOut(e->codes, file, size);
    });
}

void kestrune_encoder_free(kestrune_encoder* e) {
    delete e;
}

kestrune_status kestrune_read_header(const uint8_t* file, size_t size, uint32_t* rate, int* bits,
                                     uint64_t* samples) {
    return guarded([&] {
        if (file == nullptr || rate == nullptr || bits == nullptr || samples == nullptr) {
            return KESTRUNE_NULL_ARGUMENT;
        }
        const kestrune::Result<kestrune::Header> h = kestrune::readHeader({file, size});
        if (!h) return cStatus(h.error());
        *rate = h->rate;
        *bits = h->bits;
        *samples = h->samples();
        return KESTRUNE_OK;
    });
}

kestrune_status kestrune_decode(const uint8_t* file, size_t size, int16_t** samples,
                                size_t* count) {
    return guarded([&] {
        if (file == nullptr || samples == nullptr || count == nullptr) {
            return KESTRUNE_NULL_ARGUMENT;
        }
        const kestrune::Result<std::vector<int16_t>> decoded = kestrune::decodeFile({file, size});
        if (!decoded) return cStatus(decoded.error());
        return handOut(*decoded, samples, count);
    });
}

void kestrune_free(void* memory) {
    std::free(memory);
}

}  // extern "C"
