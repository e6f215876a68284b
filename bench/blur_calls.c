/* blur_calls N SOURCE OUTPUT: calls BMPBlur(SOURCE, OUTPUT) N times in one process, as a program
 * that links libDorvaneBMPBlur meets it, for the in-process part of bench/compare. Prints
 * "call K MS" for each call (call 1 is the caller's warm-up) and last "peak_rss_kib KIB", the
 * process's peak resident memory. The peer is bench/opencv_calls.cpp, with the same output. */
#define _POSIX_C_SOURCE 200809L

#include <DorvaneBMPBlur.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

/* ASCII paths only: each byte becomes one UTF-16 unit. */
static DorvaneChar16* Widen(const char* text) {
    size_t length = strlen(text);
    DorvaneChar16* wide = malloc((length + 1) * sizeof *wide);
    if (wide == NULL) {
        return NULL;
    }
    for (size_t i = 0; i <= length; ++i) {
        wide[i] = (DorvaneChar16)(unsigned char)text[i];
    }
    return wide;
}

static double Milliseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    char* end = NULL;
    long calls = argc == 4 ? strtol(argv[1], &end, 10) : 0;
    if (argc != 4 || *end != '\0' || calls < 1) {
        fputs("usage: blur_calls N SOURCE OUTPUT\n", stderr);
        return 64;
    }
    DorvaneChar16* source = Widen(argv[2]);
    DorvaneChar16* output = Widen(argv[3]);
    if (source == NULL || output == NULL) {
        fputs("blur_calls: out of memory\n", stderr);
        return 1;
    }
    for (long call = 1; call <= calls; ++call) {
        /* Every call writes a new file, as in the process-level table: replacing the last
         * call's output would put the freeing of its pages into the timed call. */
        unlink(argv[3]);
        double start = Milliseconds();
        int32_t result = BMPBlur(source, output);
        double elapsed = Milliseconds() - start;
        if (result != BMPBLUR_OK) {
            fprintf(stderr, "blur_calls: BMPBlur failed with %d\n", (int)result);
            return (int)result;
        }
        printf("call %ld %.3f\n", call, elapsed);
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("peak_rss_kib %ld\n", usage.ru_maxrss);
    free(source);
    free(output);
    return 0;
}
