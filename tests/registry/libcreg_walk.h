/* libcreg's C library walking a whole registry file (libcreg_walk.c). */
#ifndef BRAKVEL_LIBCREG_WALK_H
#define BRAKVEL_LIBCREG_WALK_H
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

struct creg_walk_counts {
  size_t keys, values, data_bytes;
};
/* 0 when every key and value was read. */
int creg_walk(const char *path, struct creg_walk_counts *counts);

#ifdef __cplusplus
}
#endif
#endif
