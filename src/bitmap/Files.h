#pragma once
// The operations' files: C stdio in binary mode behind small owners, so that every
// way out of an operation closes what it opened. Every access is an absolute seek
// followed by one read or write.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace bitmap {

inline std::uint32_t loadLE32(const std::uint8_t* p) noexcept
{
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

inline void storeLE16(std::uint8_t* p, std::uint16_t v) noexcept
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void storeLE32(std::uint8_t* p, std::uint32_t v) noexcept
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct FileCloser {
    void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

class InputFile {
public:
    // Opens for binary reading ("rb"); nothing when the file cannot be opened.
    static std::optional<InputFile> open(const std::string& path);

    // Reads size bytes at offset into buffer; bytes the file does not have (a
    // truncated file, an offset past its end) are zero.
    void readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size);

    // True when path names this very file (any spelling, hard or symbolic link).
    bool isSameFile(const std::string& path) const;

    void close() noexcept { file_.reset(); }

private:
    explicit InputFile(FilePtr file) : file_(std::move(file)) {}
    FilePtr file_;
};

class OutputFile {
public:
    // Creates or truncates for binary writing ("wb"); nothing when it cannot.
    static std::optional<OutputFile> create(const std::string& path);

    // Writes size bytes at offset. A failure is remembered, not thrown: the operation
    // reports it once, in place of its completion message.
    void writeAt(std::int64_t offset, const void* data, std::size_t size);

    // Pushes buffered data to the file; true when every write so far succeeded.
    bool flush() noexcept;

    // Closes; true when every write, and the close itself, succeeded.
    bool close() noexcept;

private:
    explicit OutputFile(FilePtr file) : file_(std::move(file)) {}
    FilePtr file_;
    bool failed_ = false;
};

}  // namespace bitmap
