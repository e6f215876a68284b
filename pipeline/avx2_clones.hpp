#pragma once

// Marks a function whose loops vectorise well: where the compiler can, it builds a second copy
// for processors with AVX2 and the program picks one of the two when it starts. Integer
// arithmetic gives the same results in either copy.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define DORVANE_AVX2_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define DORVANE_AVX2_CLONES
#endif
