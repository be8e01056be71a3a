#pragma once
// Where an operation's output goes: blocks the operation fills in place and hands
// over, written to the file by a second thread while the next block is computed.

#include "bitmap/BlockBuffer.h"
#include "bitmap/EngineError.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace bitmap {

// The operations write through this: reserve room, fill it, commit it.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    // Room for at least bytes bytes, valid until the next commit.
    virtual std::uint8_t* reserve(std::size_t bytes) = 0;
    // The first bytes bytes of the reserved room are the next output.
    virtual void commit(std::size_t bytes) = 0;

    void write(const void* data, std::size_t bytes);
};

class PictureReader;

class OutputFile final : public BlockSink {
public:
    // Creates or truncates path. Throws EngineError: OutputIsInput when path is the
    // input's file under any name (checked before anything is opened for writing),
    // CannotCreateOutput when it cannot be created.
    static std::unique_ptr<OutputFile> create(const std::string& path, const PictureReader* input = nullptr);
    ~OutputFile() override;  // closes without reporting; call finish() to know
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throws EngineError(WriteFailed) once a write has failed; nothing is written
    // after the first failure.
    std::uint8_t* reserve(std::size_t bytes) override;
    void commit(std::size_t bytes) override;

    // Writes what is left and closes; throws EngineError(WriteFailed) when any write,
    // or the close, failed.
    void finish();

private:
    OutputFile(int fd, std::string path);
    void writerLoop();
    void waitForWriter(std::unique_lock<std::mutex>& lock);
    bool writeAll(const std::uint8_t* data, std::size_t bytes) noexcept;
    void stopWriter();

    int fd_;
    std::string path_;
    BlockBuffer buffers_[2];
    int filling_ = 0;  // the buffer the operation fills; the writer owns the other

    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t pendingBytes_ = 0;  // bytes of the writer's buffer still to write
    bool pending_ = false;
    bool failed_ = false;
    bool stopping_ = false;
    std::thread writer_;
};

}  // namespace bitmap
