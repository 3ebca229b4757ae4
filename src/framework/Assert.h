// Assertion for conditions that cannot happen unless the program itself is wrong.
#pragma once

#include <cstdlib>

#ifdef NDEBUG
#define SV_ASSERT(cond) ((void)0)
#else
#define SV_ASSERT(cond) ((cond) ? (void)0 : std::abort())
#endif
