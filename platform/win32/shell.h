#pragma once
// The shell's way of opening a document, for the Windows window code.
#include <string>

namespace platform::win32 {

// Opens the document with its default action (a help page in the browser, say), with COM started on the calling
// thread first, as the shell asks of its callers. Without a viewer for the file nothing opens.
void OpenWithShell(const std::string& file);

}  // namespace platform::win32
