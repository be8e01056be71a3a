#pragma once
// The texts every front end shows for the engine's outcomes.

namespace engine {

inline constexpr const char* kDoneMessage = "完了";
inline constexpr const char* kCannotOpenInput = "入力ファイルを開けません";
inline constexpr const char* kCannotCreateOutput = "出力ファイルを作成できません";
inline constexpr const char* kOutputIsInput = "入力ファイルと同じファイルには保存できません";
inline constexpr const char* kWriteFailed = "出力ファイルの書き込みに失敗しました";
inline constexpr const char* kReadFailed = "入力ファイルの読み込みに失敗しました";
inline constexpr const char* kTooWide = "画像の幅が大きすぎます";
inline constexpr const char* kTooTall = "画像の高さが大きすぎます";
inline constexpr const char* kBadWidth = "画像の幅が正しくありません";
inline constexpr const char* kTruncated = "画像ファイルが途中で切れています";
inline constexpr const char* kBadPixelOffset = "画素データの位置が正しくありません";
inline constexpr const char* kUnsupportedHeader = "対応していない形式のBMPファイルです";
inline constexpr const char* kNotBitmap = "BMPファイルではありません";
inline constexpr const char* kCompressed = "圧縮されたBMPファイルには対応していません";

}  // namespace engine
