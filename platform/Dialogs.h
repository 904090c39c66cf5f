// Message dialogs.
#pragma once

#include <string>

namespace kv {

// Message with a full stop appended when its last character sorts after "."
// (a message ending in ".", or in a blank or "!", gets none).
std::string AppendFullStop(const std::string& Message);

// The modal message dialog: Message in a box centred on the screen, titled
// with the application title, with a single "OK" button and no icon.
// Returns when the user has dismissed it. Windows only.
void ShowMessage(const std::string& Message);

}  // namespace kv
