#pragma once
// Why the engine could not do what it was asked: a kind for the front ends to act on,
// and the Japanese message every front end shows for it.

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace engine {

enum class Failure {
    CannotOpenInput,     // the input cannot be opened, or is a folder
    NotBitmap,           // refused, and not even beginning as a bitmap does
    HeaderTruncated,     // shorter than its file and info headers
    EightBit,            // 8 bits per pixel: the designed scripts end the program
    UnsupportedDepth,    // neither 8 nor 24 bits per pixel
    UnsupportedHeader,   // an info header older than the 40-byte one
    Compressed,          // a compressed (or JPEG or PNG) picture
    BadWidth,            // no pixels per row
    TooWide,             // wider than kMaxWidth
    TooTall,             // more rows than the crop's header can hold
    BadPixelOffset,      // the pixel data would start inside the headers or past the end
    Truncated,           // stored rows end past the end of the file
    ReadFailed,          // an I/O error while reading the input
    CannotCreateOutput,  // the output cannot be created
    OutputIsInput,       // the output names the input itself
    WriteFailed,         // an output write or its close failed
};

class EngineError : public std::runtime_error {
public:
    // detail: the bit count for the depth failures, unused otherwise. systemError: the
    // errno of the call that failed, whose reason the message then gives; 0 for none.
    EngineError(Failure failure, std::string path, std::int64_t detail = 0, int systemError = 0);
    Failure failure() const noexcept { return failure_; }
    const std::string& path() const noexcept { return path_; }
    int systemError() const noexcept { return systemError_; }

private:
    Failure failure_;
    std::string path_;
    int systemError_;
};

// A failed call's error: the failure with the reason errno holds now (read before
// anything else can change it).
EngineError systemFailure(Failure failure, std::string path, int error = errno);

// The message for a failure: its sentence, the system's reason after it in brackets
// when there is one, and for file failures the path on a line of its own.
std::string failureMessage(Failure failure, const std::string& path, std::int64_t detail = 0, int systemError = 0);

}  // namespace engine
