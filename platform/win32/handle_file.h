#pragma once
// Files opened with CreateFileW and carried as C runtime descriptors, the form the file classes hold.
#include <string>

namespace platform::win32 {

enum class FileAccess { Read, Write, ReadWrite };
enum class FileOpening { Existing, CreateOrTruncate, CreateNew };

// A descriptor of the file, opened in binary mode and shared so that others may read, write, rename or delete it
// meanwhile, as on POSIX; -1 with the system's error code left for GetLastError when that fails.
int OpenFileDescriptor(const std::string& path, FileAccess access, FileOpening opening);
// Writes the file's buffered content through to the device.
bool FlushDescriptor(int descriptor);

}  // namespace platform::win32
