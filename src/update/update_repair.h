// At start, before anything else touches the program folder: an update that was cut off from
// outside is put right, so that the program is there under its own name (the old version or the
// new one, whole), the data files are as they were and nothing half-made is left to be taken for
// a real file.
#pragma once

#include <string>
#include <vector>

#include "update/update_record.h"

namespace brivon {

// What is on disk now, for the paths the record names.
struct RepairFacts {
  bool partialExists = false;        // the package's ".parcial" download
  FileIdentity package;
  FileIdentity installed;
  FileIdentity setAside;
  FileIdentity keptCopy;
  bool extractionFolderExists = false;
  FileIdentity replacedKept{};  // a file of the user's the package replaces, in the updates folder
  // Proved absent ("not found"); a name whose lookup failed otherwise is neither there nor missing.
  bool installedMissing = false;
  bool packageMissing = false;
  bool stagingCopyExists = false;  // "<program or package>.escribiendo": a copy cut off before its rename
  // The content of the file under the program's name, read only when it is neither missing nor
  // the old program and the record knows the new one's; empty when it could not be read.
  std::string installedSha256{};
  bool stagedDataCopies = false;  // data-file copies cut off before their rename, in the kept folders
  bool emptyKeptFolder = false;   // a kept folder the record names, made but never moved into
};

// What stands under the program's name, judged against a record that names the program.
enum class ProgramInPlace {
  Unknown,  // its look-up (or the read of its content) failed: nothing is done on a guess
  Missing,  // proved absent
  Old,      // the program as it was before the run
  New,      // the new program whole: the content recorded before it took the name (or, in a
            // record that knows no content, any file but the old program)
  Damaged,  // the new program's size but not its content: cut by a power cut after its rename
  Other,    // neither: a file put there meanwhile, left alone until the name is free again
};
ProgramInPlace JudgeProgramInPlace(const UpdateRecord& record, const RepairFacts& facts);

enum class RepairStep {
  DeletePartial,
  SetDamagedAside,          // a damaged new program kept beside, under "<program>.danado"
  RestoreFromSetAside,      // <stem>2.exe back under the program's name
  RestoreFromKeptCopy,      // a copy of the version kept in the updates folder
  KeepSetAsideAsPrevious,   // the new program is in place: the old one goes where a whole run puts it
  DeletePackage,
  RemoveExtractionFolder,         // unpacked by the cut-off run, never installed from
  RemoveExtractionFolderIfEmpty,  // as a whole run leaves it
  RestoreReplacedFile,            // the user's file back under its name, where the package never came
  DeleteStagingCopy,              // a copy that never took its name
  DeleteStagedDataCopies,         // data-file copies that never took their names
  RemoveEmptyKeptFolder,          // a kept folder nothing was moved into
};

// The steps, in order. An interrupted update is rolled back unless its new executable was
// already in place, whole, in which case what the run had left to do is done. Only files the
// record proves to be the run's own are ever deleted (a package of the identity it had when it was
// downloaded, a folder made for unpacking, a copy under the name only this program gives its copies
// before their rename). A program goes back only under a name proved free.
std::vector<RepairStep> PlanRepair(const UpdateRecord& record, const RepairFacts& facts);

// Reads the record (one file lookup when there is none), repairs, logs what it found and did in
// descargas.csv, and removes the record once the old program or the new one, whole, is under the
// program's name; a repair that could not finish logs why and is tried again at the next start.
// Acts only while this process holds the folder's lock (an update that finds a record calls it
// with the lock it holds).
void RunStartupRepair(const std::wstring& programFolder);

}  // namespace brivon
