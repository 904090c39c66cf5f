// The running executable's own resources, through kernel32.
#include "Resources.h"

#include "WinApi.h"
#include "konvoro/ClassMessages.h"
#include "konvoro/Exceptions.h"
#include "konvoro/Format.h"

namespace kv {

TResourceStream::TResourceStream(const std::string& Name, uint16_t Type)
    : TReadOnlyMemoryStream(nullptr, 0) {
  // The module the process was started from, as the platform gives it.
  HMODULE Module = ::GetModuleHandleA(nullptr);
  HRSRC Info = ::FindResourceA(Module, Name.c_str(), MAKEINTRESOURCEA(Type));
  if (Info == nullptr) throw EResNotFound(Format(messages::SResNotFound, Name));
  HGLOBAL Loaded = ::LoadResource(Module, Info);
  const void* Data = Loaded ? ::LockResource(Loaded) : nullptr;
  if (Data == nullptr) throw EResNotFound(Format(messages::SResNotFound, Name));
  // Resources stay mapped for the module's lifetime: nothing to release.
  Reset(Data, int64_t(::SizeofResource(Module, Info)));
}

}  // namespace kv
