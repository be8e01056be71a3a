#pragma once
// The system's reason for a failed call, in the words a user reads after the message:
// "容量が不足しています" rather than a bare "書き込みに失敗しました".

#include <string>

namespace engine {

// The reason for errno value error (the platform layer maps Win32's errors to these),
// in Japanese; empty for 0.
std::string systemReason(int error);

}  // namespace engine
