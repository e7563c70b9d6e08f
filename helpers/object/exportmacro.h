#pragma once

// The library builds with hidden visibility; what it exports is marked with this.
#if defined(TAVRELO_HELPERS_BUILD)
#define TAVRELO_HELPERS_EXPORT __attribute__((visibility("default")))
#else
#define TAVRELO_HELPERS_EXPORT
#endif
