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

/* Every call's outcome: KESTRUNE_OK, or why it failed. The values up to
 * KESTRUNE_INVALID_TUNE are kestrune::Error's, in the same order (checked when the library
 * is built). */
typedef enum {
    KESTRUNE_OK = 0,
    KESTRUNE_INVALID_RATE,    /* not one of the rates the device plays */
    KESTRUNE_INVALID_BITS,    /* a code width other than 4 or 2 */
    KESTRUNE_INVALID_LEVEL,   /* a search level outside 0 to 9 */
    KESTRUNE_NOT_DEVICE_FILE, /* no device file's header */
    KESTRUNE_TRUNCATED,       /* shorter than its header says */
    KESTRUNE_TOO_LONG,        /* more than a device file's 32-bit length can say */
    KESTRUNE_LENGTH_MISMATCH, /* a stream given other than the samples announced */
    KESTRUNE_WRITE_FAILED,    /* the write callback refused bytes */
    KESTRUNE_FINISHED,        /* the encoder was used after kestrune_encoder_finish */
    KESTRUNE_INVALID_TUNE,    /* a tune other than the two below */
    KESTRUNE_OUT_OF_MEMORY,   /* an allocation failed */
    KESTRUNE_NULL_ARGUMENT,   /* a pointer that must be given is null */
    KESTRUNE_CANNOT_OPEN,     /* a recording that cannot be opened */
    KESTRUNE_NOT_AUDIO,       /* a recording that is not audio any reader reads */
    KESTRUNE_READ_FAILED,     /* a recording that cannot be read */
    KESTRUNE_INVALID_CHANNEL, /* a channel the recording does not have */
    KESTRUNE_INVALID_OPTION   /* an option's value out of its range */
} kestrune_status;

/* The library's version, "MAJOR.MINOR.PATCH", in static storage. */
KESTRUNE_API const char* kestrune_version(void);

/* What a status means, in a few words, in static storage; "unknown error" for a value
 * that is not a status. */
KESTRUNE_API const char* kestrune_status_message(kestrune_status status);

/* What the search minimises: the error as heard (the default) or the plain squared
 * error (the highest SNR). */
#define KESTRUNE_TUNE_PERCEPTUAL 0
#define KESTRUNE_TUNE_SNR 1

typedef struct kestrune_encoder kestrune_encoder;

/* A new encoder that holds the codes until kestrune_encoder_finish hands out the whole
 * device file; the same as kestrune_encoder_new_tuned with KESTRUNE_TUNE_PERCEPTUAL.
 *   rate   4000, 5300, 6400, 8000, 10600, 12800, 16000 or 32000 (Hz)
 *   bits   4 or 2 (the tools' default is 4)
 *   level  0 (the vendor's own quantiser, byte for byte) to 9 (the tools' default is 5)
 *   out    receives the encoder, freed with kestrune_encoder_free; null on failure
 * Errors: KESTRUNE_INVALID_RATE, KESTRUNE_INVALID_BITS, KESTRUNE_INVALID_LEVEL,
 * KESTRUNE_NULL_ARGUMENT (out), KESTRUNE_OUT_OF_MEMORY. */
KESTRUNE_API kestrune_status kestrune_encoder_new(uint32_t rate, int bits, int level,
                                                  kestrune_encoder** out);

/* The same with a tune, KESTRUNE_TUNE_PERCEPTUAL or KESTRUNE_TUNE_SNR (otherwise
 * KESTRUNE_INVALID_TUNE). Level 0 is the same under either. */
KESTRUNE_API kestrune_status kestrune_encoder_new_tuned(uint32_t rate, int bits, int level,
                                                        int tune, kestrune_encoder** out);

/* Encodes `count` more samples (mono, signed 16-bit, at the encoder's rate); samples may
 * be null when count is 0. The codes come out the same however the samples are split
 * into calls.
 * Errors: KESTRUNE_NULL_ARGUMENT, KESTRUNE_FINISHED, KESTRUNE_TOO_LONG (the codes pass a
 * device file's length), KESTRUNE_WRITE_FAILED (streaming), KESTRUNE_OUT_OF_MEMORY (then
 * codes may be lost, and the encoder answers it from then on). */
KESTRUNE_API kestrune_status kestrune_encode(kestrune_encoder* encoder, const int16_t* samples,
                                             size_t count);

/* Ends the stream: the codes that do not fill a whole byte are not written. An encoder
 * that holds its codes hands out the whole device file, header first, in `*file` (freed
 * with kestrune_free) of `*size` bytes; a streaming one writes the rest through its
 * callback, and sets `*file` and `*size`, when given, to null and 0.
 * Errors: those of kestrune_encode; KESTRUNE_NULL_ARGUMENT (file or size, holding);
 * KESTRUNE_LENGTH_MISMATCH (streaming: not the samples announced). */
KESTRUNE_API kestrune_status kestrune_encoder_finish(kestrune_encoder* encoder, uint8_t** file,
                                                     size_t* size);

/* Frees an encoder, finished or not; null is allowed. */
KESTRUNE_API void kestrune_encoder_free(kestrune_encoder* encoder);

/* Where a streaming encoder's bytes go, in order: returns 0 when it took all `size` bytes,
 * anything else to stop the stream (the encoder then answers KESTRUNE_WRITE_FAILED). */
typedef int (*kestrune_write_fn)(void* context, const uint8_t* bytes, size_t size);

/* An encoder that streams the device file through `write` with memory that does not grow
 * with the stream's length: the header at once, for the `samples` samples announced, then
 * the codes as kestrune_encode decides them, and the rest at kestrune_encoder_finish.
 *   rate, bits, level, tune   as for kestrune_encoder_new_tuned
 *   samples                   how many samples kestrune_encode will be given in all
 *   write, context            the callback, and what it is handed first
 *   out                       receives the encoder; null on failure
 * Errors: those of kestrune_encoder_new_tuned; KESTRUNE_NULL_ARGUMENT (write);
 * KESTRUNE_TOO_LONG (the samples make more than a device file holds);
 * KESTRUNE_WRITE_FAILED (write refused the header). */
KESTRUNE_API kestrune_status kestrune_encoder_new_streaming(uint32_t rate, int bits, int level,
                                                            int tune, uint64_t samples,
                                                            kestrune_write_fn write, void* context,
                                                            kestrune_encoder** out);

/* Reads and checks a device file's header (its first 16 bytes; the payload is not read).
 *   file, size   the file, or at least its header
 *   rate, bits   receive its rate (Hz) and code width (4 or 2)
 *   samples      receives how many samples its payload plays
 * Errors: KESTRUNE_NULL_ARGUMENT, KESTRUNE_NOT_DEVICE_FILE (shorter than a header, or not a
 * header the device plays). */
KESTRUNE_API kestrune_status kestrune_read_header(const uint8_t* file, size_t size, uint32_t* rate,
                                                  int* bits, uint64_t* samples);

/* The samples the device plays for a whole device file, in `*samples` (freed with
 * kestrune_free) of `*count` samples; bytes after the payload are ignored.
 * Errors: KESTRUNE_NULL_ARGUMENT, KESTRUNE_NOT_DEVICE_FILE, KESTRUNE_TRUNCATED (a payload
 * shorter than the header says), KESTRUNE_OUT_OF_MEMORY. */
KESTRUNE_API kestrune_status kestrune_decode(const uint8_t* file, size_t size, int16_t** samples,
                                             size_t* count);

/* How a recording is prepared and encoded by kestrune_encode_recording; set every field
 * to its default (the tool's) with kestrune_recording_defaults. A level given as NAN is
 * not applied. */
typedef struct {
    uint32_t rate;          /* a device rate, or 0 (default): the source's own when the device
                               plays it, else the highest device rate below it */
    int bits;               /* 4 (default) or 2 */
    int level;              /* search level, 0 to 9 (default 5) */
    int tune;               /* KESTRUNE_TUNE_PERCEPTUAL (default) or KESTRUNE_TUNE_SNR */
    int channel;            /* the channel taken (1 = the first), or 0 (default): their mean */
    double gain_db;         /* a gain applied first, -200 to 200 (default 0) */
    double normalize_dbfs;  /* or the mix's peak scaled to this, -200 to 0 (default NAN) */
    double loudness_lufs;   /* integrated loudness to bring it to (EBU R128; default NAN) */
    double speech_level_db; /* or active speech level (ITU-T P.56, dBov; default NAN) */
    double peak_dbfs;       /* the limiter's ceiling when levelling (default NAN: -1 at 4 bits,
                               -4 at 2 bits) */
    double trim_db;         /* cut what lies this far under the peak at the ends (NAN: no
                               trim; the tool's --trim is -50) */
    double trim_margin_ms;  /* silence kept before and after the sound (default 40) */
    int measure;            /* nonzero (default): measure the playback's SNRs */
} kestrune_recording_options;

/* What encoding a recording gave: the tool's JSON keys. Values that were not measured are
 * NAN (or -1 for `limited`). Its strings are freed by kestrune_report_free. */
typedef struct {
    char* reason;  /* why it failed, in words; null on success */
    uint32_t rate; /* the device rate chosen */
    int bits, level, tune;
    uint64_t samples;                  /* samples the device plays */
    uint64_t bytes;                    /* payload bytes */
    double snr_db, segsnr_db, wsnr_db; /* NAN for a silent source */
    uint64_t clipped;                  /* samples clipped when rounded to 16 bits */
    uint64_t nonfinite;                /* NaN or infinite source samples, played as silence */
    double loudness_in, loudness_out;  /* LUFS, when levelled or trimmed */
    double gain_db;                    /* the levelling's gain */
    int64_t limited;                   /* samples the limiter changed; -1 when it did not run */
    double trim_start_ms, trim_end_ms; /* what trimming cut at each end */
    /* Under a ceiling: the playback's peak (dBFS) and how far under the ceiling it stays;
       NAN when no ceiling is in force. */
    double playback_peak_dbfs, headroom_db;
    size_t warning_count; /* warnings[0 .. warning_count - 1], one line each */
    char** warnings;
} kestrune_report;

/* Sets every option to its default. Errors: KESTRUNE_NULL_ARGUMENT. */
KESTRUNE_API kestrune_status kestrune_recording_defaults(kestrune_recording_options* options);

/* Encodes a recording as `kestrune-adpcm encode` does: read (any format libsndfile reads;
 * "-" is standard input), mixed, resampled, levelled, limited, trimmed and encoded.
 *   path            the recording
 *   options         how; null for the defaults
 *   file, size      receive the whole device file (freed with kestrune_free) and its size
 *   report          receives what it gave, when not null (kestrune_report_free it after)
 * Errors: KESTRUNE_NULL_ARGUMENT (path, file or size); KESTRUNE_CANNOT_OPEN;
 * KESTRUNE_NOT_AUDIO; KESTRUNE_READ_FAILED; KESTRUNE_INVALID_CHANNEL; KESTRUNE_INVALID_OPTION;
 * those of kestrune_encoder_new_tuned; KESTRUNE_TOO_LONG; KESTRUNE_OUT_OF_MEMORY. */
KESTRUNE_API kestrune_status kestrune_encode_recording(const char* path,
                                                       const kestrune_recording_options* options,
                                                       uint8_t** file, size_t* size,
                                                       kestrune_report* report);

/* The same for interleaved float samples (full scale 1.0) in memory: `frames` frames of
 * `channels` samples at `rate` Hz. Errors: those of kestrune_encode_recording but
 * KESTRUNE_CANNOT_OPEN; KESTRUNE_NOT_AUDIO (a rate or channel count of 0). */
KESTRUNE_API kestrune_status kestrune_encode_samples(const float* samples, size_t frames,
                                                     uint32_t rate, int channels,
                                                     const kestrune_recording_options* options,
                                                     uint8_t** file, size_t* size,
                                                     kestrune_report* report);

/* Frees a report's strings and zeroes it; null is allowed. */
KESTRUNE_API void kestrune_report_free(kestrune_report* report);

/* Frees what the library handed out; null is allowed. */
KESTRUNE_API void kestrune_free(void* memory);

#ifdef __cplusplus
}
#endif

#endif
