#pragma once

// SSE2 is part of every x86-64 processor; elsewhere, and in the build that
// tests the plain twins (VARNOOK_PLAIN_LOOPS), the byte loops run as plain
// loops.
#if defined(__SSE2__) && !defined(VARNOOK_PLAIN_LOOPS)
#include <emmintrin.h>
#define VARNOOK_SSE2 1
#else
#define VARNOOK_SSE2 0
#endif
