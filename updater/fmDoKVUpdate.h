// The main window TForm1, whose creation runs the update: stage the
// payload, extract it into "update" beside the program, write and launch
// the update script, and end the application.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Forms.h"
#include "konvoro/Streams.h"
#include "konvoro/zlb/ZLIBArchive.h"

namespace kv::updater {

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* AOwner) : TForm(AOwner, "TForm1") {}

  // The update run, bound to OnCreate by the stored properties. A failure
  // while one entry is extracted is shown as "ZLIB error " + its text and
  // ends the run; every other failure leaves as an exception. Only a
  // complete run launches the script and asks the application to end.
  void FormCreate(TObject* Sender);
  // Copies the payload resource byte for byte into the staged archive
  // (StagedArchivePath()) and hands the file it wrote, still open and open
  // to nobody else, to Staged: the run reads the archive through it and
  // never by its name, which lies in a directory of the user's. Returns
  // true; raises "Resource %s not found", the file-creation failure or
  // "Stream write error".
  bool ExtractPayload(TFileHandle& Staged);

  // Publishes FormCreate.
  std::any MethodAddress(std::string_view Name) override;
};

// The one main window, set while it exists.
extern TForm1* Form1;
// The temporary directory exactly as the environment gives it; filled by
// the update run before staging.
extern std::string TempDir;

// The staged archive: "kvUPDzip.dat" inside TempDir, or in the current
// directory when TempDir is empty.
std::string StagedArchivePath();

// Runs one entry's part of the update run. Returns "" when it succeeds,
// else what the per-entry failure dialog says: "ZLIB error " followed by the
// failure's text, whatever failed (the system's exceptions, out of memory
// included).
std::string EntryFailure(const std::function<void()>& Step);

// Raises Exception(SReleaseForAnotherCodePage) when Archive records the
// code page its names are in, that is not SystemCodePage, and a name or
// stored path is not ASCII: in this system's code page its files would
// take other names. An archive that records none is taken as it is.
void RefuseReleaseOfAnotherCodePage(const TZLBArchive& Archive, uint32_t SystemCodePage);

// The application directory: the executable's path up to its last "\" or
// ":", ending with "\".
std::string ApplicationDirectory(const std::string& ExePath);
// The application directory of the running program, named exactly in the
// ANSI code page (by its short form when its long one has no exact form).
// Raises Exception(SInstallDirNotScriptable) when it cannot be so named.
std::string InstallationDirectory();
// The temporary directory: "temp", else "tmp", as the environment gives it,
// named exactly like the installation; "" when neither is set. Raises
// Exception(STempDirNotNameable) when the first that is set cannot be so
// named.
std::string TemporaryDirectory();

}  // namespace kv::updater
