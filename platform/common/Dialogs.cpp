// Message dialogs: the text rules common to every platform.
#include "Dialogs.h"

namespace kv {

std::string AppendFullStop(const std::string& Message) {
  if (!Message.empty() && static_cast<unsigned char>(Message.back()) > '.') return Message + '.';
  return Message;
}

}  // namespace kv
