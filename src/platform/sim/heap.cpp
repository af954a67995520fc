// The process heap as Windows keeps it: a large block (above about 512 KiB) is memory of its
// own from the system and goes back to the system when it is freed, so a program that
// decodes one large file after another holds no more than the files it holds. The C
// library's allocator would otherwise raise that threshold as large blocks are freed and keep
// the freed memory in the heap of each thread that used it.
#include <malloc.h>

namespace {

[[maybe_unused]] const bool kHeapLikeWindows = [] {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  mallopt(M_MMAP_THRESHOLD, 512 * 1024);
#endif
  return true;
}();

}  // namespace
