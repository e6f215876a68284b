/* A plain C host of the library, built in the tree and against an installed copy: blurs argv[1]
 * into argv[2] and exits with BMPBlur's result. */
#include <DorvaneBMPBlur.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <wchar.h>

/* Windows hands the arguments over as UTF-16, the form that BMPBlur takes. */
int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fputs("usage: c_consumer SOURCE OUTPUT\n", stderr);
        return 64;
    }
    return (int)BMPBlur((const DorvaneChar16*)argv[1], (const DorvaneChar16*)argv[2]);
}
#else
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

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: c_consumer SOURCE OUTPUT\n", stderr);
        return 64;
    }
    DorvaneChar16* source = Widen(argv[1]);
    DorvaneChar16* output = Widen(argv[2]);
    int32_t result = BMPBlur(source, output);
    free(source);
    free(output);
    return (int)result;
}
#endif
