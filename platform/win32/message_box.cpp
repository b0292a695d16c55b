#include "platform/message_box.h"

#include "platform/win32/system.h"
#include "platform/win32/text.h"

namespace platform {

int ShowMessageBox(const std::string& text, unsigned style) {
    return MessageBoxW(nullptr, win32::Wide(text).c_str(), L"Orvane", style);
}

}  // namespace platform
