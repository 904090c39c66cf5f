// consumer ARCHIVE DIR: lists ARCHIVE and extracts it into DIR with CRC
// checks, through the installed component.
#include <cstdio>

#include <konvoro/zlb/ZLIBArchive.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  try {
    kv::TZLBArchive Archive;
    Archive.SetCheckCRC(true);
    Archive.OpenArchive(argv[1]);
    kv::TZLBFileEntry Entry;
    for (int32_t I = 0; I < Archive.GetFileCount(); ++I) {
      Archive.GetFileEntry(I, Entry);
      std::printf("%s %d\n", Entry.FileName.ToString().c_str(), int(Entry.OriginalSize));
      Archive.ExtractFile(argv[2], I);
    }
  } catch (const kv::Exception& E) {
    std::fprintf(stderr, "consumer: %s\n", E.Message().c_str());
    return 1;
  }
  return 0;
}
