// Whether a new executable may take the place of the installed program: only one of the
// installed program's own publisher. Logged either way.
#pragma once

#include <string>

namespace brivon {

// installed: the program as it stands; candidate: the new executable, still under a name of its
// own; shownAs: the name the log gives it. Logs "EJECUTABLE_VERIFICADO;", "EJECUTABLE_NO_VERIFICADO;"
// or "EJECUTABLE_RECHAZADO;" to the downloads log of programFolder.
bool NewProgramAllowed(const std::wstring& programFolder, const std::wstring& installed,
                       const std::wstring& candidate, const std::wstring& shownAs);

}  // namespace brivon
