// The running executable's own resources (Windows only).
#pragma once

#include <string>

#include "konvoro/Streams.h"

namespace kv {

// Resource type numbers.
inline constexpr uint16_t RT_RCDATA_TYPE = 10;

// A read-only stream over a resource of the running executable's module,
// read in place.
class TResourceStream : public TReadOnlyMemoryStream {
 public:
  // Finds, loads and locks the resource Name of type Type. Raises
  // EResNotFound("Resource %s not found") with Name when there is none.
  TResourceStream(const std::string& Name, uint16_t Type);
};

}  // namespace kv
