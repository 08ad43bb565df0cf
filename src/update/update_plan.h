// What an update will do, decided before anything in the program folder is touched: from the
// package's name and what stands in the folder, where the package goes and what it replaces.
#pragma once

#include <string>

#include "update/file_moves.h"
#include "update/update_record.h"

namespace brivon {

enum class PackageKind {
  Executable,  // replaces its namesake, the installed program, which is set aside as <stem>2.exe
  Zip,         // unpacked; the executable in it whose namesake is installed replaces it
  Other,       // only stored
};

struct UpdatePlan {
  PackageKind kind = PackageKind::Other;
  std::wstring target;            // where the package is stored
  std::wstring ownName;           // where it would go by its own name, when target is a free name beside
  bool replacesProgram = false;   // an executable package whose namesake is installed
  bool keepsReplaced = false;     // a file of the user's it replaces goes to the updates folder first
  std::wstring setAside;          // <stem>2.exe beside the target
  std::wstring extractionFolder;  // a ZIP's: a folder that does not exist yet
  const char* refusal = nullptr;  // the log marker when no free name is left: the run does not start
};

// isTaken: anything stands at the path; isNamesake: a file stands there under that long name.
UpdatePlan PlanUpdate(const std::wstring& programFolder, const std::wstring& fileName, const PathTest& isTaken,
                      const PathTest& isNamesake);

// The record written before the run's first change: what a repair needs to put the folder right.
UpdateRecord RecordOfPlan(const UpdatePlan& plan, const std::wstring& programFolder, const std::string& packageUrl,
                          const PathTest& isTaken, FileIdentity (*identityOf)(const std::wstring&));

// Whether an executable found in a ZIP may take the place of its namesake in the program folder.
bool MayReplaceFromPackage(const std::wstring& name);

}  // namespace brivon
