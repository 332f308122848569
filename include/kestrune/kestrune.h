/* kestrune: the C interface. Encode mono 16-bit samples into a Kestrune device file and
 * decode one back, through opaque handles and status codes, so that other languages can
 * bind it. Memory this library hands out is freed with kestrune_free. No call throws: memory
 * that runs out is KESTRUNE_OUT_OF_MEMORY, and an encoder that answered it (it may have lost
 * codes) answers it from then on.
 *
 *     kestrune_encoder* e;
 *     if (kestrune_encoder_new(16000, 4, 5, &e) == KESTRUNE_OK) {
 *         kestrune_encode(e, samples, count);
 *         uint8_t* file; size_t size;
 *         kestrune_encoder_finish(e, &file, &size);   (the whole device file)
 *         ...
 *         kestrune_free(file);
 *         kestrune_encoder_free(e);
 *     }
 */
#ifndef KESTRUNE_H
#define KESTRUNE_H

#include <stddef.h>
#include <stdint.h>

#include "kestrune/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The same values, in the same order, as kestrune::Error. */
typedef enum {
    KESTRUNE_OK = 0,
    KESTRUNE_INVALID_RATE,
    KESTRUNE_INVALID_BITS,
    KESTRUNE_INVALID_LEVEL,
    KESTRUNE_NOT_DEVICE_FILE,
    KESTRUNE_TRUNCATED,
    KESTRUNE_TOO_LONG,
    KESTRUNE_LENGTH_MISMATCH,
    KESTRUNE_WRITE_FAILED,
    KESTRUNE_FINISHED,
    KESTRUNE_INVALID_TUNE,
    KESTRUNE_OUT_OF_MEMORY,
    KESTRUNE_NULL_ARGUMENT
} kestrune_status;

/* The library's version, "MAJOR.MINOR.PATCH". */
KESTRUNE_API const char* kestrune_version(void);

/* What a status means, in a few words. */
KESTRUNE_API const char* kestrune_status_message(kestrune_status status);

typedef struct kestrune_encoder kestrune_encoder;

/* rate: one the device plays; bits: 4 or 2; level: 0 (the vendor's quantiser) to 9.
   The search minimises the perceptually weighted error; kestrune_encoder_new_tuned with
   KESTRUNE_TUNE_SNR minimises the plain squared error instead. */
KESTRUNE_API kestrune_status kestrune_encoder_new(uint32_t rate, int bits, int level,
                                                  kestrune_encoder** out);
#define KESTRUNE_TUNE_PERCEPTUAL 0
#define KESTRUNE_TUNE_SNR 1
KESTRUNE_API kestrune_status kestrune_encoder_new_tuned(uint32_t rate, int bits, int level,
                                                        int tune, kestrune_encoder** out);
/* Encodes more samples; the codes are held until finish. */
KESTRUNE_API kestrune_status kestrune_encode(kestrune_encoder* encoder, const int16_t* samples,
                                             size_t count);
/* Ends the stream and hands out the whole device file. */
KESTRUNE_API kestrune_status kestrune_encoder_finish(kestrune_encoder* encoder, uint8_t** file,
                                                     size_t* size);
KESTRUNE_API void kestrune_encoder_free(kestrune_encoder* encoder);

/* Where a streaming encoder's bytes go, in order: returns 0 when it took all `size` bytes,
   anything else to stop the stream (the encoder then answers KESTRUNE_WRITE_FAILED). */
typedef int (*kestrune_write_fn)(void* context, const uint8_t* bytes, size_t size);

/* An encoder that streams the device file through `write` with memory that does not grow
   with the stream's length: the header at once, for the `samples` samples announced, then
   the codes as kestrune_encode decides them, and the rest at kestrune_encoder_finish,
   whose `file` and `size` may then be null (they are set to null and 0).
   rate, bits, level, tune: as for kestrune_encoder_new_tuned. context: handed to write.
   Errors: those of kestrune_encoder_new_tuned; KESTRUNE_TOO_LONG when the samples make
   more than a device file can hold; KESTRUNE_WRITE_FAILED when write refuses the header
   (then *out is null) or later bytes; at finish, KESTRUNE_LENGTH_MISMATCH when other than
   `samples` samples were given. */
KESTRUNE_API kestrune_status kestrune_encoder_new_streaming(uint32_t rate, int bits, int level,
                                                            int tune, uint64_t samples,
                                                            kestrune_write_fn write, void* context,
                                                            kestrune_encoder** out);

/* Reads a device file's header: its rate, code width and number of samples. */
KESTRUNE_API kestrune_status kestrune_read_header(const uint8_t* file, size_t size, uint32_t* rate,
                                                  int* bits, uint64_t* samples);
/* The samples the device plays for a whole device file. */
KESTRUNE_API kestrune_status kestrune_decode(const uint8_t* file, size_t size, int16_t** samples,
                                             size_t* count);

KESTRUNE_API void kestrune_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif
