// The few thread calls the C++ runtime's exception handling makes, served
// by Windows itself.
//
// The runtime keeps each thread's exception state in emulated thread-local
// storage and its emergency exception pool behind a lock, and takes both
// from the posix thread library: about 26 KiB of thread, condition and
// read-write-lock code that SetUp.exe, which runs its own code on one
// thread, has no other use for. Every lock is one process-wide critical
// section: the runtime holds its locks briefly and never waits for another
// thread while holding one, and the section is recursive, so a lock taken
// inside another cannot deadlock. A key is a fiber-local index, whose
// callback runs the key's destructor when a thread ends.
//
// This file declares the calls itself rather than including <pthread.h>,
// whose declarations would clash with these definitions.

#include <windows.h>

#include <cerrno>
#include <cstdint>

namespace {

INIT_ONCE g_lockOnce = INIT_ONCE_STATIC_INIT;
CRITICAL_SECTION g_lock;

BOOL CALLBACK InitializeLock(PINIT_ONCE, PVOID, PVOID*) {
    InitializeCriticalSection(&g_lock);
    return TRUE;
}

CRITICAL_SECTION* Lock() {
    InitOnceExecuteOnce(&g_lockOnce, InitializeLock, nullptr, nullptr);
    return &g_lock;
}

// The runtime makes one key with a destructor; a second is refused rather
// than given a callback that would run the wrong one.
void (*g_keyDestructor)(void*) = nullptr;

void NTAPI RunKeyDestructor(PVOID value) {
    if (value && g_keyDestructor)
        g_keyDestructor(value);
}

}  // namespace

extern "C" {

int pthread_mutex_init(intptr_t* mutex, const unsigned* /*attributes*/) {
    *mutex = 0;
    return 0;
}

int pthread_mutex_destroy(intptr_t* /*mutex*/) {
    return 0;
}

int pthread_mutex_lock(intptr_t* /*mutex*/) {
    EnterCriticalSection(Lock());
    return 0;
}

int pthread_mutex_unlock(intptr_t* /*mutex*/) {
    LeaveCriticalSection(Lock());
    return 0;
}

int pthread_once(long* once, void (*routine)(void)) {
    EnterCriticalSection(Lock());
    if (*once == 0) {
        routine();
        *once = 1;
    }
    LeaveCriticalSection(Lock());
    return 0;
}

int pthread_key_create(unsigned* key, void (*destructor)(void*)) {
    EnterCriticalSection(Lock());
    int result = EAGAIN;
    if (!destructor || !g_keyDestructor) {
        const DWORD index = FlsAlloc(destructor ? RunKeyDestructor : nullptr);
        if (index != FLS_OUT_OF_INDEXES) {
            if (destructor)
                g_keyDestructor = destructor;
            *key = index;
            result = 0;
        }
    }
    LeaveCriticalSection(Lock());
    return result;
}

// Both keep the last error, as the posix library's do: a thread's state may
// be looked up between a failed call and the look at why it failed.
void* pthread_getspecific(unsigned key) {
    const DWORD error = GetLastError();
    void* value = FlsGetValue(key);
    SetLastError(error);
    return value;
}

int pthread_setspecific(unsigned key, const void* value) {
    const DWORD error = GetLastError();
    const BOOL set = FlsSetValue(key, const_cast<void*>(value));
    SetLastError(error);
    return set ? 0 : ENOMEM;
}

}  // extern "C"
