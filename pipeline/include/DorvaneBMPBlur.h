/* DorvaneBMPBlur: gray Gaussian blur of BMP files. */
#ifndef DORVANE_BMPBLUR_H
#define DORVANE_BMPBLUR_H

#include <stdint.h>

#if defined(__cplusplus) && __cplusplus >= 201103L
typedef char16_t DorvaneChar16;
#else
#include <uchar.h>
typedef char16_t DorvaneChar16;
#endif

#if defined(_WIN32) && defined(DORVANE_BMPBLUR_BUILDING)
#define DORVANE_BMPBLUR_API __declspec(dllexport)
#elif defined(_WIN32)
#define DORVANE_BMPBLUR_API __declspec(dllimport)
#else
#define DORVANE_BMPBLUR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of BMPBlur. */
enum {
    BMPBLUR_OK = 0,                /* the output file was written */
    BMPBLUR_SOURCE_UNREADABLE = 1, /* the source is missing, unreadable, not a supported BMP,
                                      or too large for memory; no output file was created */
    BMPBLUR_OUTPUT_UNWRITABLE = 2, /* the output could not be written; a file that was already
                                      there is left as it was */
    BMPBLUR_INVALID_ARGUMENT = 3   /* a null path, a path that is not valid UTF-16, or a path
                                      too long (source: 199 bytes, output: 207 bytes in UTF-8) */
};

/* Reads the BMP file at source (1, 4, 8, 16, 24 or 32 bits per pixel), turns it gray, smooths it
 * with a 5 x 5 Gaussian and writes it to output at the source's size and bit depth. Both paths
 * are zero-terminated UTF-16. Calls from several threads are serialised. Returns one of the
 * BMPBLUR_ codes above. */
DORVANE_BMPBLUR_API int32_t BMPBlur(const DorvaneChar16* source, const DorvaneChar16* output);

#ifdef __cplusplus
}
#endif

#endif
