// Test build's thread start: every new thread is refused, as when the system
// has no resources left, so the window's worker cannot start. Linked with
// -Wl,--wrap=pthread_create.
#include <pthread.h>

#include <cerrno>

extern "C" int __wrap_pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) {
  return EAGAIN;
}
