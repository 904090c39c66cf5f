// Reads a form's stored properties from their text description and applies
// them by name through the published properties of the form and of the
// objects it holds (Font.Height).
//
//   object Form1: TForm1
//     Left = 338
//     Caption = 'Form1'
//     Font.Style = []
//     OnCreate = FormCreate
//   end
#pragma once

#include <string_view>

#include "konvoro/Component.h"

namespace kv {

// Applies Text to Root: the header's object name becomes Root's Name, each
// "Property = Value" line is set by name, event values name published
// methods of Root. Raises EReadFormError naming ResourceName, the line and
// the cause when the text is damaged, names another class than ClassName,
// or sets a property that does not exist or cannot take the value.
void ReadFormText(std::string_view Text, TComponent& Root, std::string_view ClassName,
                  std::string_view ResourceName);

}  // namespace kv
