#pragma once

// Marks a function whose loops vectorise well: where the compiler can, it builds a second copy
// for processors with AVX2 and the program picks one of the two when it starts. Integer
// arithmetic, and floating-point arithmetic that is not contracted into fused multiply-adds,
// give the same results in either copy.
// ThreadSanitizer instruments the resolver that picks the copy, which runs before the sanitizer
// is set up, so its builds get the plain copy only.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__)) &&        \
    !defined(__SANITIZE_THREAD__)
#define DORVANE_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define DORVANE_AVX2_CLONES
#endif

// Where x86 intrinsics and functions built for a chosen target are at hand: the job's hand-written
// vector code is built there, beside a plain copy, and chosen when it runs by what the processor
// has. Not on Windows, where GCC cannot align the stack for the 32-byte values it spills (its
// bug 54412): Windows takes the plain copy, which gives the same bytes.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define DORVANE_X86_VECTORS 1
#endif
