#pragma once
// What the fuzz targets share. The fuzzer's bytes are split into the window's field
// texts and the picture file; the operation runs against the scripted fake window with
// the file in a scratch folder; what it did is then checked against a plain model of
// the picture that takes every header value and row byte straight from those bytes.

#include "FakeServices.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

namespace fuzzing {

using Bytes = std::vector<std::uint8_t>;

// Stops the run with a report (libFuzzer saves the input) when a check fails.
#define FUZZ_CHECK(condition) ::fuzzing::check((condition), #condition, __FILE__, __LINE__)
void check(bool condition, const char* what, const char* file, int line);

// One fuzz input: each field text is one length byte (taken modulo 32) and that many
// bytes; whatever follows is the picture file.
struct Case {
    std::vector<std::string> fields;
    Bytes file;
};
Case split(const std::uint8_t* data, std::size_t size, int fieldCount);
Bytes join(const std::vector<std::string>& fields, const Bytes& file);

// The header values as the format defines them, bytes past the end of the file as zero.
struct Header {
    std::int32_t width;
    std::int32_t height;  // negative: rows stored top row first
    std::uint16_t bitCount;
    std::uint32_t pixelOffset;
    std::uint32_t infoSize;
    std::uint32_t compression;
    std::int64_t fileSize;
    std::int64_t rows() const { return height < 0 ? -std::int64_t{height} : height; }
};
Header headerOf(const Bytes& file);

// File offset of image row y counted from the top.
std::int64_t imageRowOffset(const Header& header, std::int64_t y);

// Bytes offset..offset+size of the file, zero where the file has none.
Bytes bytesAt(const Bytes& file, std::int64_t offset, std::size_t size);

// Bytes per stored row for a width of at least one pixel.
std::int64_t strideOf(std::int32_t width);

// A picture cheap enough to run: the operations' row reads and writes stay within a few
// megabytes and their per-pixel work within a quarter of a million pixels. Headers may
// claim two billion rows in a 54-byte file; such cases are skipped, never changed.
inline constexpr std::int64_t kByteBudget = 4 << 20;
inline constexpr std::int64_t kPixelBudget = 1 << 18;

// The scratch folder of this process, in memory where the system offers it.
class Scratch {
public:
    static Scratch& get();
    // Writes the input file and removes any output left by the previous run.
    void prepare(const Bytes& file);
    std::string input() const { return input_.string(); }
    std::string output() const { return output_.string(); }
    bool outputExists() const;
    Bytes outputBytes() const;
    ~Scratch();

private:
    Scratch();
    std::filesystem::path dir_, input_, output_;
};

// How an operation's run ended.
struct Outcome {
    std::optional<int> exitStatus;          // the process would have ended with this
    const std::type_info* error = nullptr;  // the kind of runtime error raised
    std::string errorMessage;
    bool returned() const { return !exitStatus && !error; }
};

// Runs the operation against a fake whose dialogs answer with the scratch files.
// Anything but the fake's process exit and the program's own runtime errors escapes
// and is reported by the fuzzer.
Outcome run(void (*operation)(window::Services&), testing_support::FakeServices& fake);

// What the checks before any output must decide for this header: the 8-bit stop, a
// refusal with its message, or going on.
enum class Verdict { EightBit, Refused, Proceed };
Verdict verdictOf(const Header& header);
// The refusal's message for the scratch input; empty when the picture is taken.
std::string refusalOf(const Header& header);

// Checks a run that the checks stopped: the 8-bit message and status -1, or the
// refusal's message; never an output file. False when the picture was taken.
bool checkGateStop(const Header& header, const Outcome& outcome, const testing_support::FakeServices& fake,
                   const char* eightBitMessage);

}  // namespace fuzzing
