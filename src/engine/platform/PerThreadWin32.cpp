// The thread-exit side of perThread() on Windows: fiber-local storage, whose callback
// the system runs with each thread's value as that thread ends.
#include "engine/platform/PerThread.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace engine::detail {

unsigned long threadExitSlot(void (*destroy)(void*))
{
    return ::FlsAlloc(reinterpret_cast<PFLS_CALLBACK_FUNCTION>(destroy));
}

void deleteAtThreadExit(unsigned long slot, void* object)
{
    // Without a slot (none left) the object stays until the process ends.
    if (slot != FLS_OUT_OF_INDEXES) ::FlsSetValue(slot, object);
}

}  // namespace engine::detail
