#pragma once

// The hand-written SSE2 paths are taken where the compiler targets SSE2 (every x86-64). A build with
// TORVANE_NO_SIMD takes their plain fallbacks instead, so that the tests can run those as well.
#if defined(__SSE2__) && !defined(TORVANE_NO_SIMD)
#define TORVANE_SSE2 1
#include <emmintrin.h>
#endif
