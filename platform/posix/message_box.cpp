#include "platform/message_box.h"

#include <iostream>

namespace platform {

int ShowMessageBox(const std::string& text, unsigned /*style*/) {
    std::cerr << text << std::endl;
    return 1;
}

}  // namespace platform
