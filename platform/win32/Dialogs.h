// Message dialogs (Windows only).
#pragma once

#include <string>

namespace kv {

// The modal message dialog: Message in a box centred on the screen, titled
// with the application title, with a single "OK" button and no icon.
// Returns when the user has dismissed it.
void ShowMessage(const std::string& Message);

}  // namespace kv
