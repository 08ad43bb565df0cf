#include "update/update_plan.h"

#include "update/package_naming.h"

namespace brivon {

bool MayReplaceFromPackage(const std::wstring& name) { return !IsArchiveToolName(name); }

UpdatePlan PlanUpdate(const std::wstring& programFolder, const std::wstring& fileName, const PathTest& isTaken,
                      const PathTest& isNamesake) {
  UpdatePlan plan;
  const bool isExe = HasExtension(fileName, L"exe");
  plan.kind = IsZipPackage(fileName) ? PackageKind::Zip : isExe ? PackageKind::Executable : PackageKind::Other;
  plan.target = programFolder + L"\\" + fileName;

  // A package replaces nothing of the user's or of the program's own: an executable replaces only
  // its namesake (never the archive tool); a ZIP (removed after the run) or such a name is stored
  // under a free name beside; any other file it replaces is kept first in the updates folder.
  // Namesakes go by the long name: a short 8.3 name ("FACTUR~1.EXE") reaches another file.
  plan.replacesProgram = isExe && MayReplaceFromPackage(fileName) && isNamesake(plan.target);
  if (!plan.replacesProgram && isTaken(plan.target)) {
    plan.keepsReplaced =
        plan.kind == PackageKind::Other && !IsNeverReplacedByPackage(fileName) && isNamesake(plan.target);
    if (!plan.keepsReplaced) {
      const std::wstring free = FreeNameBeside(plan.target, false, isTaken);
      if (free.empty()) {
        plan.refusal = "ERROR_PAQUETE_NOMBRE_LIBRE";
        return plan;
      }
      plan.ownName = plan.target;
      plan.target = free;
    }
  }
  plan.setAside = StripExtension(plan.target) + L"2.exe";
  if (plan.kind == PackageKind::Zip) {
    // Unpacked into a folder that did not exist: never over the user's files, and the search for
    // the new executable sees the package alone.
    plan.extractionFolder = FreeNameBeside(StripExtension(plan.target), true, isTaken);
    if (plan.extractionFolder.empty()) plan.refusal = "ERROR_CARPETA_EXTRACCION_LIBRE";
  }
  return plan;
}

UpdateRecord RecordOfPlan(const UpdatePlan& plan, const std::wstring& programFolder, const std::string& packageUrl,
                          const PathTest& isTaken, FileIdentity (*identityOf)(const std::wstring&)) {
  UpdateRecord record;
  record.programFolder = programFolder;
  record.packageUrl = packageUrl;
  record.package = plan.target;
  record.packageBefore = identityOf(plan.target);
  record.isZip = plan.kind == PackageKind::Zip;
  if (plan.replacesProgram) {
    record.installed = plan.target;
    record.installedBefore = record.packageBefore;
    record.setAside = plan.setAside;
    record.setAsideBefore = identityOf(plan.setAside);
  }
  if (record.isZip) {
    record.extractionFolder = plan.extractionFolder;
    record.extractionFolderExisted = isTaken(plan.extractionFolder);
  }
  return record;
}

}  // namespace brivon
