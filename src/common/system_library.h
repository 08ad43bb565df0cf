// Windows libraries loaded when first needed instead of with the program, only from the system
// folder: the program folder is writable by the signed-in user, and a library of the same name
// dropped there must never be loaded.
#pragma once

#include <windows.h>

#include "common/unique_handle.h"

namespace brivon {

UniqueModule LoadSystemLibrary(const wchar_t* name);

// Loads the system library name (a string that lives as long as the program) on a thread of its
// own, meanwhile, and keeps it loaded until the program ends: for a library the program is sure to
// call into soon.
void LoadSystemLibraryAhead(const wchar_t* name);

// From now on every library loaded by name, those the program links to load when first needed
// among them, comes from the system folder only, never from the program folder or the current
// one. False where Windows cannot do that (a Windows 7 without its update for it).
bool LoadLibrariesFromSystemFolderOnly();

// The function `name` of module as the pointer type Function, or null.
template <typename Function>
Function SystemFunction(const UniqueModule& module, const char* name) {
  FARPROC address = module ? ::GetProcAddress(module.get(), name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

}  // namespace brivon
