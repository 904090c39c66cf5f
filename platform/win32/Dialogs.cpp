// The modal message dialog, as a standard message box.
#include "Dialogs.h"

#include "Forms.h"

namespace kv {

void ShowMessage(const std::string& Message) {
  const std::string Title = Application ? Application->GetTitle() : std::string();
  HWND Owner = Application ? Application->Handle() : nullptr;
  ::MessageBoxA(Owner, Message.c_str(), Title.c_str(), MB_OK);
}

}  // namespace kv
