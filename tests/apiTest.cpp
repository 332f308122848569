// The public library, as a program that embeds it uses it: whole files and streams give
// the bytes the search encoder gives, decoding gives what the device plays, and each
// misuse is its own error, in C++ and in C.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/adpcm.h"
#include "codec/search.h"
#include "kestrune/kestrune.h"
#include "kestrune/kestrune.hpp"
#include "support/testSupport.h"

// How many more allocations succeed before each fails as when memory has run out;
// negative: all succeed. Pressure sets it for a scope.
static thread_local long allocationsLeft = -1;

void* operator new(std::size_t n) {
    if (allocationsLeft == 0) throw std::bad_alloc();
    if (allocationsLeft > 0) --allocationsLeft;
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return operator new(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

struct Pressure {
    explicit Pressure(long allowed) { allocationsLeft = allowed; }
    ~Pressure() { allocationsLeft = -1; }
};

TEST(Api, FilesStreamsAndDecoding) {
    const Samples speech = hostileSignal(20001, 3);
    for (const int bits : {4, 2}) {
        SCOPED_TRACE(bits);
        const uint8_t variant = bits == 4 ? kVariant4Bit : kVariant2Bit;
        SearchEncoder reference(variant, 3, SearchTune::kPerceptual, 8000);
        std::vector<uint8_t> codes;
        reference.encode(speech, codes);
        reference.finish(codes);

        const auto file = kestrune::encodeFile(speech, {8000, bits, 3});
        ASSERT_TRUE(file);
        EXPECT_EQ(Bytes(file->begin() + 16, file->end()), codes);
        EXPECT_EQ(Bytes(file->begin(), file->begin() + 16),
                  Bytes(adpFile(8000, bits == 4, {}, static_cast<int64_t>(codes.size()))));

        Bytes streamed;
        FILE* sink = pipeLikeSink(&streamed);
        std::size_t at = 0;
        const auto read = [&](std::span<int16_t> block) {
            const std::size_t n = std::min(block.size(), speech.size() - at);
            std::copy_n(speech.begin() + static_cast<std::ptrdiff_t>(at), n, block.begin());
            at += n;
            return n;
        };
        EXPECT_EQ(kestrune::encodeStream({8000, bits, 3}, speech.size(), read, sink),
                  kestrune::Error::none);
        std::fclose(sink);
        EXPECT_EQ(streamed, *file);

        std::vector<int16_t> played(codes.size() * count[variant]);
        DecoderStream decoder{};
        decodeStream(&decoder, variant, codes.data(), static_cast<uint32_t>(codes.size()),
                     played.data());
        EXPECT_EQ(*kestrune::decodeFile(*file), played);
        double signal = 0, error = 0;
        for (std::size_t i = 0; i < played.size(); ++i) {
            const double x = speech[i], d = x - played[i];
            signal += x * x;
            error += d * d;
        }
        EXPECT_NEAR(kestrune::measure(speech, played, 8000).snrDb, 10 * std::log10(signal / error),
                    1e-9);

        // The same through the C interface.
        kestrune_encoder* e = nullptr;
        ASSERT_EQ(kestrune_encoder_new(8000, bits, 3, &e), KESTRUNE_OK);
        ASSERT_EQ(kestrune_encode(e, speech.data(), 7), KESTRUNE_OK);
        ASSERT_EQ(kestrune_encode(e, speech.data() + 7, speech.size() - 7), KESTRUNE_OK);
        uint8_t* c = nullptr;
        std::size_t size = 0;
        ASSERT_EQ(kestrune_encoder_finish(e, &c, &size), KESTRUNE_OK);
        EXPECT_EQ(Bytes(c, c + size), *file);
        EXPECT_EQ(kestrune_encode(e, speech.data(), 1), KESTRUNE_FINISHED);
        int16_t* decoded = nullptr;
        std::size_t n = 0;
        ASSERT_EQ(kestrune_decode(c, size, &decoded, &n), KESTRUNE_OK);
        EXPECT_EQ(std::vector<int16_t>(decoded, decoded + n), played);
        kestrune_free(decoded);
        kestrune_free(c);
        kestrune_encoder_free(e);

        // Streamed through a write callback, in blocks of any size: the same file.
        streamed.clear();
        const kestrune_write_fn collect = [](void* to, const uint8_t* bytes, size_t size) {
            static_cast<Bytes*>(to)->insert(static_cast<Bytes*>(to)->end(), bytes, bytes + size);
            return 0;
        };
        ASSERT_EQ(kestrune_encoder_new_streaming(8000, bits, 3, KESTRUNE_TUNE_PERCEPTUAL,
                                                 speech.size(), collect, &streamed, &e),
                  KESTRUNE_OK);
        EXPECT_EQ(streamed.size(), kestrune::kHeaderSize) << "the header comes first";
        for (std::size_t at = 0, n = 1; at < speech.size(); at += n, n = n * 3 + 1) {
            ASSERT_EQ(kestrune_encode(e, speech.data() + at, std::min(n, speech.size() - at)),
                      KESTRUNE_OK);
        }
        ASSERT_EQ(kestrune_encoder_finish(e, nullptr, nullptr), KESTRUNE_OK);
        EXPECT_EQ(streamed, *file);
        kestrune_encoder_free(e);
    }
}

TEST(Api, Errors) {
    const Samples s(100, 5);
    const Bytes good = *kestrune::encodeFile(s, {8000, 4, 0});
    Bytes bad = good;
    bad[7] = 3;
    FILE* readOnly = std::fopen("/dev/null", "r");
    const struct {
        kestrune::Error got, expected;
    } rows[] = {
        {kestrune::encodeFile(s, {8001, 4, 0}).error(), kestrune::Error::invalid_rate},
        {kestrune::encodeFile(s, {8000, 3, 0}).error(), kestrune::Error::invalid_bits},
        {kestrune::encodeFile(s, {8000, 4, kestrune::kLevels}).error(),
         kestrune::Error::invalid_level},
        {kestrune::encodeFile(s, {8000, 4, -1}).error(), kestrune::Error::invalid_level},
        {kestrune::encodeFile(s, {8000, 4, 1, kestrune::Tune{2}}).error(),
         kestrune::Error::invalid_tune},
        {kestrune::decodeFile(bad).error(), kestrune::Error::not_device_file},
        {kestrune::decodeFile(std::span(good).first(15)).error(), kestrune::Error::not_device_file},
        {kestrune::decodeFile(std::span(good).first(good.size() - 1)).error(),
         kestrune::Error::truncated},
        {kestrune::encodeStream(
             {8000, 4, 0}, 101, [](std::span<int16_t>) { return 0; }, readOnly),
         kestrune::Error::write_failed},
    };
    std::fclose(readOnly);
    for (const auto& r : rows) EXPECT_EQ(r.got, r.expected) << kestrune::message(r.expected);
    Bytes out;
    FILE* sink = pipeLikeSink(&out);
    std::size_t given = 0;
    EXPECT_EQ(kestrune::encodeStream(
                  {8000, 4, 0}, 101,
                  [&](std::span<int16_t> b) {
                      return given++ == 0 ? std::min<std::size_t>(b.size(), 50) : 0;
                  },
                  sink),
              kestrune::Error::length_mismatch);
    std::fclose(sink);
    EXPECT_STREQ(kestrune_status_message(KESTRUNE_NOT_DEVICE_FILE), "not a device file");
    EXPECT_EQ(kestrune_encoder_new(8000, 4, 0, nullptr), KESTRUNE_NULL_ARGUMENT);
    kestrune_encoder* e = nullptr;
    EXPECT_EQ(kestrune_encoder_new_tuned(8000, 4, 1, 2, &e), KESTRUNE_INVALID_TUNE);
    ASSERT_EQ(kestrune_encoder_new(8000, 2, 0, &e), KESTRUNE_OK);
    EXPECT_EQ(kestrune_encode(e, nullptr, 0), KESTRUNE_OK);  // nothing, from nowhere
    EXPECT_EQ(kestrune_encode(e, nullptr, 1), KESTRUNE_NULL_ARGUMENT);
    kestrune_encoder_free(e);
    // A stream given other than the samples announced, or whose writer refuses.
    const Samples some(100, 1000);
    const auto takes = [](void*, const uint8_t*, size_t) { return 0; };
    const auto refuses = [](void*, const uint8_t*, size_t size) { return size > 16 ? 1 : 0; };
    for (const auto& [announced, write, finished] :
         {std::tuple{101, +takes, KESTRUNE_LENGTH_MISMATCH},
          std::tuple{99, +takes, KESTRUNE_LENGTH_MISMATCH},
          std::tuple{100, +refuses, KESTRUNE_WRITE_FAILED}}) {
        ASSERT_EQ(kestrune_encoder_new_streaming(8000, 4, 0, 0, announced, write, nullptr, &e),
                  KESTRUNE_OK);
        const kestrune_status s = kestrune_encode(e, some.data(), some.size());
        EXPECT_EQ(s == KESTRUNE_OK ? kestrune_encoder_finish(e, nullptr, nullptr) : s, finished);
        kestrune_encoder_free(e);
    }
    EXPECT_EQ(kestrune_encoder_new_streaming(8000, 4, 0, 0, 1, +refuses, nullptr, &e), KESTRUNE_OK);
    kestrune_encoder_free(e);
    const auto none = [](void*, const uint8_t*, size_t) { return 1; };
    EXPECT_EQ(kestrune_encoder_new_streaming(8000, 4, 0, 0, 1, +none, nullptr, &e),
              KESTRUNE_WRITE_FAILED);
    EXPECT_EQ(e, nullptr);
}

// Memory that runs out at any allocation inside the C interface is a status: no exception
// reaches the C caller, what it was handed can still be freed, and no file is damaged.
TEST(Api, RunningOutOfMemoryIsAStatus) {
    const Samples speech = hostileSignal(3000, 5);
    for (long allowed = 0;; ++allowed) {
        kestrune_encoder* e = nullptr;
        uint8_t* file = nullptr;
        int16_t* played = nullptr;
        std::size_t size = 0, n = 0;
        kestrune_status s = KESTRUNE_OK;
        {
            const Pressure pressure(allowed);
            s = kestrune_encoder_new(8000, 4, 2, &e);
            if (s == KESTRUNE_OK) s = kestrune_encode(e, speech.data(), speech.size());
            if (s == KESTRUNE_OK) s = kestrune_encoder_finish(e, &file, &size);
            if (s == KESTRUNE_OK) s = kestrune_decode(file, size, &played, &n);
        }
        // An encoder that lost codes hands out no file, though memory is back.
        uint8_t* late = nullptr;
        if (e != nullptr && file == nullptr) {
            EXPECT_NE(kestrune_encoder_finish(e, &late, &size), KESTRUNE_OK);
        }
        kestrune_free(late);
        kestrune_free(played);
        kestrune_free(file);
        kestrune_encoder_free(e);
        if (s == KESTRUNE_OK) break;
        ASSERT_EQ(s, KESTRUNE_OUT_OF_MEMORY) << allowed;
    }
}

}  // namespace
