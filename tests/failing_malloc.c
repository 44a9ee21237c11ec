// SPDX-License-Identifier: MIT
/* LD_PRELOAD shim: allocation number FAIL_MALLOC_AT (counted from 0 once the shim is loaded)
 * fails. With FAIL_MALLOC_COUNT=FILE, the number of allocations made is written there at exit. */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);

static long failAt = -1;
static long made = 0;

__attribute__((constructor)) static void Arm(void) {
  const char* at = getenv("FAIL_MALLOC_AT");
  failAt = at != NULL ? atol(at) : -1;
}

__attribute__((destructor)) static void Report(void) {
  const char* path = getenv("FAIL_MALLOC_COUNT");
  if (path == NULL) return;
  FILE* out = fopen(path, "w");
  if (out == NULL) return;
  fprintf(out, "%ld\n", made);
  fclose(out);
}

/* A failure looks like the real one: a null pointer and ENOMEM. */
static int Fails(void) {
  if (made++ != failAt) return 0;
  errno = ENOMEM;
  return 1;
}

void* malloc(size_t n) { return Fails() ? NULL : __libc_malloc(n); }
void* calloc(size_t n, size_t size) { return Fails() ? NULL : __libc_calloc(n, size); }
void* realloc(void* p, size_t n) { return Fails() ? NULL : __libc_realloc(p, n); }
