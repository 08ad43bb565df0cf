// A worker thread handed what it works on through the heap: the thread takes the parameter over
// and deletes it at its end; where no thread could be made, the parameter goes at once.
#pragma once

#include <windows.h>

#include <memory>

#include "common/unique_handle.h"

namespace brivon {

// Starts entry on a thread of its own with parameter, which entry then owns (it adopts the pointer
// it is given into a std::unique_ptr first thing). Empty when no thread could be made.
template <typename Parameter>
UniqueHandle StartWorkerThread(LPTHREAD_START_ROUTINE entry, std::unique_ptr<Parameter> parameter) {
  UniqueHandle thread(::CreateThread(nullptr, 0, entry, parameter.get(), 0, nullptr));
  if (thread) parameter.release();
  return thread;
}

}  // namespace brivon
