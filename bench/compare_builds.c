/* compare_builds CALLS SOURCE OUTPUT LIBRARY...: loads each build of libDorvaneBMPBlur into a
 * namespace of its own (dlmopen, so that their symbols never mix) and calls their BMPBlur in
 * turn, CALLS times each after a warm-up call, the first build of each round moving on by one;
 * then prints each build's median and quartiles in milliseconds. As calls alternate within one
 * process, a machine whose speed wanders from one minute to the next slows every build alike:
 * far steadier than timing builds in processes run one after another. Paths are ASCII. A LIBRARY
 * given as NAME=VALUE,PATH loads with the environment variable NAME set to VALUE until its warm-up
 * call is done (DORVANE_SIMD=sse2,lib/libDorvaneBMPBlur.so: the same build on another path). */
#ifndef _GNU_SOURCE
#define _GNU_SOURCE /* dlmopen */
#endif
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { MaxBuilds = 8, MaxPath = 512 };

typedef int32_t (*BlurFunction)(const uint16_t* source, const uint16_t* output);

static int Widen(const char* text, uint16_t* wide) {
    size_t i = 0;
    for (; text[i] != '\0'; ++i) {
        if (i + 1 == MaxPath || (unsigned char)text[i] > 127) {
            return 0;
        }
        wide[i] = (unsigned char)text[i];
    }
    wide[i] = 0;
    return 1;
}

static double Milliseconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec * 1e3 + (double)now.tv_nsec / 1e6;
}

static int Ascending(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

int main(int argc, char** argv) {
    uint16_t source[MaxPath];
    uint16_t output[MaxPath];
    BlurFunction blur[MaxBuilds];
    double* times[MaxBuilds];
    const int builds = argc - 4;
    const int calls = argc > 1 ? atoi(argv[1]) : 0;
    if (builds < 1 || builds > MaxBuilds || calls < 1 || !Widen(argv[2], source) ||
        !Widen(argv[3], output)) {
        fprintf(stderr, "usage: compare_builds CALLS SOURCE OUTPUT LIBRARY... (at most %d)\n",
                MaxBuilds);
        return 64;
    }
    for (int b = 0; b < builds; ++b) {
        char setting[MaxPath];
        const char* path = argv[4 + b];
        const char* comma = strchr(path, ',');
        const char* equals = strchr(path, '=');
        const int sets = comma != NULL && equals != NULL && equals < comma &&
                         (size_t)(comma - path) < sizeof setting;
        if (sets) { /* NAME, a terminator and VALUE */
            memcpy(setting, path, (size_t)(comma - path));
            setting[comma - path] = '\0';
            setting[equals - path] = '\0';
            setenv(setting, setting + (equals - path) + 1, 1);
            path = comma + 1;
        }
        void* library = dlmopen(LM_ID_NEWLM, path, RTLD_NOW | RTLD_LOCAL);
        if (library == NULL) {
            fprintf(stderr, "compare_builds: %s\n", dlerror());
            return 1;
        }
        /* POSIX's way to a function from dlsym, which ISO C does not convert to. */
        *(void**)&blur[b] = dlsym(library, "BMPBlur");
        times[b] = calloc((size_t)calls, sizeof(double));
        if (blur[b] == NULL || times[b] == NULL || blur[b](source, output) != 0) {
            fprintf(stderr, "compare_builds: %s cannot blur %s\n", argv[4 + b], argv[2]);
            return 1;
        }
        if (sets) {
            unsetenv(setting);
        }
    }
    for (int call = 0; call < calls; ++call) {
        for (int turn = 0; turn < builds; ++turn) {
            const int b = (call + turn) % builds;
            const double start = Milliseconds();
            if (blur[b](source, output) != 0) {
                fprintf(stderr, "compare_builds: %s failed\n", argv[4 + b]);
                return 1;
            }
            times[b][call] = Milliseconds() - start;
        }
    }
    for (int b = 0; b < builds; ++b) {
        qsort(times[b], (size_t)calls, sizeof(double), Ascending);
        printf("%-50s median %7.1f  p25 %7.1f  p75 %7.1f ms\n", argv[4 + b], times[b][calls / 2],
               times[b][calls / 4], times[b][3 * calls / 4]);
    }
    return 0;
}
