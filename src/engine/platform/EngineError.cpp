#include "engine/platform/EngineError.h"

#include "engine/platform/Messages.h"
#include "engine/platform/SystemReason.h"

namespace engine {

namespace {

std::string withPath(const char* sentence, const std::string& path)
{
    return std::string(sentence) + "\n" + path;
}

// The sentence with the system's reason: "...に失敗しました（容量が不足しています）".
std::string withReason(const char* sentence, int systemError)
{
    const std::string reason = systemReason(systemError);
    return reason.empty() ? std::string(sentence) : std::string(sentence) + "（" + reason + "）";
}

}  // namespace

std::string failureMessage(Failure failure, const std::string& path, std::int64_t detail, int systemError)
{
    if (systemError != 0) {
        switch (failure) {
        case Failure::CannotOpenInput: return withPath(withReason(kCannotOpenInput, systemError).c_str(), path);
        case Failure::ReadFailed: return withPath(withReason(kReadFailed, systemError).c_str(), path);
        case Failure::CannotCreateOutput: return withPath(withReason(kCannotCreateOutput, systemError).c_str(), path);
        case Failure::WriteFailed: return withPath(withReason(kWriteFailed, systemError).c_str(), path);
        default: break;
        }
    }
    switch (failure) {
    case Failure::CannotOpenInput: return withPath(kCannotOpenInput, path);
    case Failure::NotBitmap: return withPath(kNotBitmap, path);
    case Failure::HeaderTruncated:
    case Failure::Truncated: return withPath(kTruncated, path);
    case Failure::EightBit:
    case Failure::UnsupportedDepth:
        return "24ビットカラー画像以外には対応していません（" + std::to_string(detail) + "ビット）";
    case Failure::UnsupportedHeader: return withPath(kUnsupportedHeader, path);
    case Failure::Compressed: return withPath(kCompressed, path);
    case Failure::BadWidth: return withPath(kBadWidth, path);
    case Failure::TooWide: return kTooWide;
    case Failure::TooTall: return kTooTall;
    case Failure::BadPixelOffset: return withPath(kBadPixelOffset, path);
    case Failure::ReadFailed: return withPath(kReadFailed, path);
    case Failure::CannotCreateOutput: return withPath(kCannotCreateOutput, path);
    case Failure::OutputIsInput: return kOutputIsInput;
    case Failure::WriteFailed: return withPath(kWriteFailed, path);
    }
    return {};
}

EngineError::EngineError(Failure failure, std::string path, std::int64_t detail, int systemError)
    : std::runtime_error(failureMessage(failure, path, detail, systemError)),
      failure_(failure),
      path_(std::move(path)),
      systemError_(systemError)
{
}

EngineError systemFailure(Failure failure, std::string path, int error)
{
    return EngineError(failure, std::move(path), 0, error);
}

}  // namespace engine
