// Preloaded into Wine's 32-bit processes when they run under qemu's user-mode
// emulation. That emulator takes MAP_FIXED_NOREPLACE for a mere hint and
// answers with some other free address; Wine, asking for one block after
// another to reserve its address space, then maps and unmaps for a minute
// before every 32-bit program starts. Giving the answer the kernel would give
// (nothing mapped, EEXIST) brings the start back to a fraction of a second.
//
// Built -m32 -nostdlib: everything it calls is looked up in the C library the
// process has loaded anyway.
typedef unsigned int size_t;

#define MAP_FIXED_NOREPLACE 0x100000
#define MAP_FAILED ((void*)-1)
#define RTLD_NEXT ((void*)-1)
#define EEXIST 17

extern void* dlsym(void* handle, const char* name);
extern int munmap(void* address, size_t length);
extern int* __errno_location(void);

typedef void* (*Mmap64)(void*, size_t, int, int, int, long long);
static Mmap64 next_mmap64;

void* mmap64(void* address, size_t length, int protection, int flags, int fd, long long offset) {
  if (!next_mmap64) next_mmap64 = (Mmap64)dlsym(RTLD_NEXT, "mmap64");
  void* mapped = next_mmap64(address, length, protection, flags, fd, offset);
  if ((flags & MAP_FIXED_NOREPLACE) && mapped != MAP_FAILED && mapped != address) {
    munmap(mapped, length);
    *__errno_location() = EEXIST;
    return MAP_FAILED;
  }
  return mapped;
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, long offset) {
  return mmap64(address, length, protection, flags, fd, offset);
}
