// The main of a fuzz target built without libFuzzer: runs the target once on
// every file named and on every file below every directory named, in sorted
// order, so that a committed corpus replays as an ordinary test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
    return 2;
  }
  std::vector<fs::path> Inputs;
  for (int I = 1; I < argc; ++I) {
    const fs::path Arg = argv[I];
    std::error_code Error;
    if (fs::is_directory(Arg, Error)) {
      for (const auto& Entry : fs::recursive_directory_iterator(Arg))
        if (Entry.is_regular_file()) Inputs.push_back(Entry.path());
    } else if (fs::is_regular_file(Arg, Error)) {
      Inputs.push_back(Arg);
    } else {
      std::fprintf(stderr, "%s: no such file or directory\n", Arg.string().c_str());
      return 2;
    }
  }
  // An empty corpus would pass without testing anything.
  if (Inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 2;
  }
  std::sort(Inputs.begin(), Inputs.end());
  for (const fs::path& Input : Inputs) {
    std::ifstream In(Input, std::ios::binary);
    const std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)),
                                     std::istreambuf_iterator<char>());
    if (!In.eof() && In.fail()) {
      std::fprintf(stderr, "%s: cannot read\n", Input.string().c_str());
      return 2;
    }
    std::printf("replaying %s (%zu bytes)\n", Input.string().c_str(), Bytes.size());
    std::fflush(stdout);
    static const uint8_t NoBytes = 0;
    LLVMFuzzerTestOneInput(Bytes.empty() ? &NoBytes : Bytes.data(), Bytes.size());
  }
  std::printf("replayed %zu inputs\n", Inputs.size());
  return 0;
}
