#pragma once
// Content forged to pass a size and CRC-32 test: what anyone can make, and what only a SHA-256 check refuses.
#include <string>

namespace testsupport {

// Content of the same size and CRC-32 as the original (at least 5 bytes), but another first byte: its last four
// bytes are chosen by running the CRC register backwards from the original's.
std::string ForgedSameCrc(std::string content);

}  // namespace testsupport
