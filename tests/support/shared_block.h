#pragma once
// Shared-memory blocks made by hand, the way another program or another user could leave them behind.
#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>

namespace testsupport {

// Creates the block anew with exactly this mode, `size` bytes with the text at the start, and hands it to
// `owner` when given. Fails the running test when that does not work.
void PlantSharedBlock(const std::string& name, std::size_t size, mode_t mode, const std::string& text,
                      std::optional<uid_t> owner = std::nullopt);
// The zero-terminated text at the start of the block; nothing when there is no such block.
std::optional<std::string> SharedBlockText(const std::string& name);
// The permission bits of the block; nothing when there is no such block.
std::optional<mode_t> SharedBlockMode(const std::string& name);

}  // namespace testsupport
