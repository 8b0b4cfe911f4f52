/*
 * Preloaded into 32-bit Wine processes when the kernel cannot run 32-bit
 * programs itself and qemu-i386 runs them instead.
 *
 * At start-up, 32-bit Wine reserves its address ranges with mmap and
 * MAP_FIXED_NOREPLACE, halving the range on every failure down to 64 KiB.
 * qemu-i386 7.2 does not honour MAP_FIXED_NOREPLACE, so every attempt fails
 * slowly and a program takes about a minute to start. Answering those
 * reservation attempts with EEXIST at once gives Wine the same outcome (no
 * reserved ranges, as under qemu anyway) in a fraction of a second.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>

static int is_reservation(int prot, int flags) {
  return (flags & MAP_FIXED_NOREPLACE) && (flags & MAP_NORESERVE) && prot == PROT_NONE;
}

void *mmap(void *addr, size_t len, int prot, int flags, int fd, off_t off) {
  static void *(*real)(void *, size_t, int, int, int, off_t);
  if (is_reservation(prot, flags)) {
    errno = EEXIST;
    return MAP_FAILED;
  }
  if (!real) real = (void *(*)(void *, size_t, int, int, int, off_t))dlsym(RTLD_NEXT, "mmap");
  return real(addr, len, prot, flags, fd, off);
}

void *mmap64(void *addr, size_t len, int prot, int flags, int fd, long long off) {
  static void *(*real)(void *, size_t, int, int, int, long long);
  if (is_reservation(prot, flags)) {
    errno = EEXIST;
    return MAP_FAILED;
  }
  if (!real) real = (void *(*)(void *, size_t, int, int, int, long long))dlsym(RTLD_NEXT, "mmap64");
  return real(addr, len, prot, flags, fd, off);
}
