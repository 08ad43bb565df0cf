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
  FileIdentity replacedKept;  // a file of the user's the package replaces, in the updates folder
  // Proved absent ("not found"); a name whose lookup failed otherwise is neither there nor missing.
  bool installedMissing = false;
  bool packageMissing = false;
  bool stagingCopyExists = false;  // "<program or package>.escribiendo": a copy cut off before its rename
};

enum class RepairStep {
  DeletePartial,
  RestoreFromSetAside,      // <stem>2.exe back under the program's name
  RestoreFromKeptCopy,      // a copy of the version kept in the updates folder
  KeepSetAsideAsPrevious,   // the new program is in place: the old one goes where a whole run puts it
  DeletePackage,
  RemoveExtractionFolder,         // unpacked by the cut-off run, never installed from
  RemoveExtractionFolderIfEmpty,  // as a whole run leaves it
  RestoreReplacedFile,            // the user's file back under its name, where the package never came
  DeleteStagingCopy,              // a copy that never took its name
};

// The steps, in order. An interrupted update is rolled back unless its new executable was
// already in place, in which case what the run had left to do is done. Only files the record
// proves to be the run's own are ever deleted (a copy beside the program or package under the
// name only this program gives its copies before their rename). Nothing is put back under a name
// not proved free.
std::vector<RepairStep> PlanRepair(const UpdateRecord& record, const RepairFacts& facts);

// Reads the record (one file lookup when there is none), repairs, logs what it found and did in
// descargas.csv, and removes the record once the program is under its own name; a repair that
// could not finish logs why and is tried again at the next start. Acts only while this process
// holds the folder's lock.
void RunStartupRepair(const std::wstring& programFolder);

}  // namespace brivon
