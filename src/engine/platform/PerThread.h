#pragma once
// An object of each thread's own, made the first time the thread asks for it and
// destroyed when the thread ends: memory a worker keeps from frame to frame.
//
// Not a thread_local with a destructor on Windows: there mingw's emulated thread-local
// storage and libstdc++'s thread-exit destructors are both winpthreads key
// destructors, run in no set order, so the object can be destroyed after its storage
// was freed, which corrupts the heap as each worker thread ends. There the object lives
// on the heap behind a plain pointer, and the system's fiber-local storage deletes it
// as the thread ends.

namespace engine {

namespace detail {
// A fiber-local slot whose values destroy(value) deletes as their thread ends; then
// that value set for the calling thread. Windows only.
unsigned long threadExitSlot(void (*destroy)(void*));
void deleteAtThreadExit(unsigned long slot, void* object);
}  // namespace detail

template <class T>
T& perThread()
{
#ifdef _WIN32
    static const unsigned long slot = detail::threadExitSlot([](void* object) { delete static_cast<T*>(object); });
    thread_local T* object = nullptr;  // trivially destroyed
    if (!object) {
        object = new T;
        detail::deleteAtThreadExit(slot, object);
    }
    return *object;
#else
    thread_local T object;
    return object;
#endif
}

}  // namespace engine
