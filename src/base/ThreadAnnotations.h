// Lock annotations that clang's -Wthread-safety checks at compile time (other compilers ignore
// them): which lock guards a member, which lock a function needs or must not hold, which functions
// take and give back a lock.
//
//   Mutex lock_;
//   std::set<std::string> names_ GUARDED_BY(lock_);   // reading it without lock_ is a compile error
//   void forget() REQUIRES(lock_);                    // callers must hold lock_
#pragma once

#if defined(__clang__)
#define FERRYLANTERN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define FERRYLANTERN_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks.
#define CAPABILITY(name) FERRYLANTERN_THREAD_ANNOTATION(capability(name))
// A class whose objects hold a lock for their lifetime.
#define SCOPED_CAPABILITY FERRYLANTERN_THREAD_ANNOTATION(scoped_lockable)
// The member may only be read or written while the lock is held.
#define GUARDED_BY(lock) FERRYLANTERN_THREAD_ANNOTATION(guarded_by(lock))
// The caller must hold the locks.
#define REQUIRES(...) FERRYLANTERN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The caller must not hold the locks: the function takes them itself.
#define EXCLUDES(...) FERRYLANTERN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function takes the locks (the object's own when none is named) and returns holding them.
#define ACQUIRE(...) FERRYLANTERN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// The function gives back locks the caller held.
#define RELEASE(...) FERRYLANTERN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
