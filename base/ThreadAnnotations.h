// Attributes that let clang check, at compile time, that every field a lock
// guards is touched only while that lock is held (-Wthread-safety; see
// scripts/thread-safety.sh, which the test command runs). Other compilers (GCC
// builds the program, MinGW cross-builds it) see empty macros.
//
//   GUARDED_BY(m)         a field read and written only while `m` is held
//   PT_GUARDED_BY(m)      what a pointer field points to, likewise
//   REQUIRES(m...)        a function its caller must call holding `m`
//   REQUIRES_SHARED(m...) the same with `m` held at least shared
//   EXCLUDES(m...)        a function its caller must call without `m`
//   ACQUIRE/RELEASE(...)  a function that takes or lets go of a lock
//   CAPABILITY(name)      a lock type; SCOPED_CAPABILITY a scoped holder
//   NO_THREAD_SAFETY_ANALYSIS  a function the check leaves alone (say why)
//
// The lock types to use with them are in base/Mutex.h. Any code may include it.
#pragma once

#if defined(__clang__)
#define QUORVEL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUORVEL_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) QUORVEL_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY QUORVEL_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) QUORVEL_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) QUORVEL_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRED_BEFORE(...) QUORVEL_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) QUORVEL_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
#define REQUIRES(...) QUORVEL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) QUORVEL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define ACQUIRE(...) QUORVEL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) QUORVEL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) QUORVEL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) QUORVEL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) QUORVEL_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) QUORVEL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) QUORVEL_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
#define EXCLUDES(...) QUORVEL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) QUORVEL_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) QUORVEL_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS QUORVEL_THREAD_ANNOTATION(no_thread_safety_analysis)
