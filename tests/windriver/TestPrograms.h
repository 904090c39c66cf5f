// Where the tests of the window driver find the program they start.
#pragma once

#include <string>

#include "TestSupport.h"

namespace windriver_test {

// windriver_helper.exe, built beside the tests.
inline std::string HelperPath() {
  return kvtest::ProgramDirectory() + "windriver_helper.exe";
}

}  // namespace windriver_test
