#pragma once
// Steps the three operations share, each with the message the user gets when it
// cannot go on.

#include "bitmap/BitmapProbe.h"
#include "bitmap/Files.h"
#include "bitmap/Services.h"

#include <optional>
#include <string>

namespace bitmap {

inline constexpr const char* kBmpFilter = "BMPファイル (*.bmp) | *.bmp";
inline constexpr const char* kDoneMessage = "完了";
inline constexpr const char* kCannotOpenInput = "入力ファイルを開けません";
inline constexpr const char* kCannotCreateOutput = "出力ファイルを作成できません";
inline constexpr const char* kOutputIsInput = "入力ファイルと同じファイルには保存できません";
inline constexpr const char* kWriteFailed = "出力ファイルの書き込みに失敗しました";
inline constexpr const char* kTooWide = "画像の幅が大きすぎます";

// Opens the chosen input; tells the user and gives nothing when it cannot be opened.
std::optional<InputFile> openInput(Services& services, const std::string& path);

// Probes the header and applies the bit-depth gate. An 8-bit picture gets the
// operation's own message and ends the process with status -1; other depths and
// empty rows end the operation silently; a picture too wide for the row buffers is
// refused with a message. The probe is returned when the operation goes on.
std::optional<BitmapProbe> probeAndGate(Services& services, InputFile& input, const char* eightBitMessage);

// Creates the chosen output, refusing the input file itself under any name so that
// the user's picture is never truncated.
std::optional<OutputFile> createOutput(Services& services, const InputFile& input, const std::string& path);

// Shows "完了" when everything written reached the file, else the write failure.
void reportCompletion(Services& services, bool written, const std::string& outputPath);

}  // namespace bitmap
