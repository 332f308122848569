/* Encodes a canonical mono 16-bit WAV file into a device file through kestrune's C
 * interface: the smallest program that embeds the encoder.
 *
 *     encode-wav IN.wav OUT.adp [bits [level]]
 */
#include <kestrune/kestrune.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint32_t le(const unsigned char* p, int n) {
    uint32_t v = 0;
    while (n-- > 0) v = (v << 8) | p[n];
    return v;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: encode-wav IN.wav OUT.adp [bits [level]]\n");
        return 2;
    }
    FILE* in = fopen(argv[1], "rb");
    unsigned char h[44];
    if (in == NULL || fread(h, 1, 44, in) != 44 || memcmp(h, "RIFF", 4) != 0 ||
        memcmp(h + 36, "data", 4) != 0 || le(h + 22, 2) != 1 || le(h + 34, 2) != 16) {
        fprintf(stderr, "encode-wav: %s: not a canonical mono 16-bit WAV file\n", argv[1]);
        return 1;
    }
    const size_t count = le(h + 40, 4) / 2;
    int16_t* samples = malloc(count * sizeof *samples + 1);
    size_t got = samples == NULL ? 0 : fread(samples, sizeof *samples, count, in);
    fclose(in);
    for (size_t i = 0; i < got; ++i) { /* little-endian on the disk */
        const unsigned char* b = (const unsigned char*)&samples[i];
        samples[i] = (int16_t)(b[0] | (b[1] << 8));
    }

    kestrune_encoder* encoder = NULL;
    uint8_t* file = NULL;
    size_t size = 0;
    kestrune_status s = kestrune_encoder_new(le(h + 24, 4), argc > 3 ? atoi(argv[3]) : 4,
                                             argc > 4 ? atoi(argv[4]) : 5, &encoder);
    if (s == KESTRUNE_OK) s = kestrune_encode(encoder, samples, got);
    if (s == KESTRUNE_OK) s = kestrune_encoder_finish(encoder, &file, &size);
    kestrune_encoder_free(encoder);
    free(samples);
    if (s != KESTRUNE_OK) {
        fprintf(stderr, "encode-wav: %s\n", kestrune_status_message(s));
        return 1;
    }
    FILE* out = fopen(argv[2], "wb");
    const int ok = out != NULL && fwrite(file, 1, size, out) == size;
    kestrune_free(file);
    if (out == NULL || fclose(out) != 0 || !ok) {
        fprintf(stderr, "encode-wav: %s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
