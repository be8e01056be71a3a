#pragma once
// Where an operation's output goes: blocks the operation fills in place and hands
// over, written to the file by a second thread while the next block is computed.

#include "engine/output/OutputPath.h"
#include "engine/platform/BlockBuffer.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/KeptThread.h"
#include "engine/platform/Platform.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

namespace engine {

// The operations write through this: reserve room, fill it, commit it.
class BlockSink {
public:
    virtual ~BlockSink() = default;
    // Room for at least bytes bytes, valid until the next commit.
    virtual std::uint8_t* reserve(std::size_t bytes) = 0;
    // The first bytes bytes of the reserved room are the next output.
    virtual void commit(std::size_t bytes) = 0;

    void write(const void* data, std::size_t bytes);

    // Whether passThrough() writes straight from mapped memory; where not, the
    // operations read into reserved room instead.
    virtual bool passesThrough() const { return false; }
    // Writes head and then bytes bytes at data, memory that only the kernel may read
    // (MappedBytes). Returns how many bytes of the two it wrote, fewer than all when
    // data could not be read (its file was cut meanwhile); throws like commit() when a
    // write fails.
    virtual std::size_t passThrough(std::span<const std::uint8_t> /*head*/, const std::uint8_t* /*data*/,
                                    std::size_t /*bytes*/)
    {
        return 0;
    }
};

class StagedFile;

class OutputFile final : public BlockSink {
public:
    // Creates or truncates path. Throws EngineError: OutputIsInput when path is the
    // input's file under any name (checked before anything is opened for writing),
    // CannotCreateOutput when it cannot be created.
    static std::unique_ptr<OutputFile> create(const std::string& path, const OutputSource* input = nullptr);
    // Writes into a staged file's temporary, at its current position; failures name
    // its final path and mark it failed. Its group closes the descriptor.
    static std::unique_ptr<OutputFile> into(StagedFile& file);
    // Closes without reporting (a staged file left unfinished is marked failed); call
    // finish() to know.
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Throws EngineError(WriteFailed) once a write has failed; nothing is written
    // after the first failure.
    std::uint8_t* reserve(std::size_t bytes) override;
    void commit(std::size_t bytes) override;
    bool passesThrough() const override { return true; }
    std::size_t passThrough(std::span<const std::uint8_t> head, const std::uint8_t* data, std::size_t bytes) override;

    // Writes what is left and closes (a staged file: leaves it open to its group);
    // throws EngineError(WriteFailed) when any write, or the close, failed.
    void finish();

    // Called about every millisecond while the operation waits for the writer (a disk
    // that holds its writes), so that a window can go on answering meanwhile. A
    // passThrough() writes on the caller's thread and holds it for the write.
    void setWaitHook(std::function<void()> hook) { waitHook_ = std::move(hook); }

private:
    OutputFile(int fd, std::string path, StagedFile* staged = nullptr);
    void handOverPending();
    void writerLoop();
    void waitForWriter();
    void handOver();
    bool writeAll(const std::uint8_t* data, std::size_t bytes) noexcept;
    std::size_t writeParts(platform::ByteRange (&parts)[2]) noexcept;
    void stopWriter();
    void fail(int error) noexcept;
    EngineError writeFailure() const;

    int fd_;
    std::string path_;
    StagedFile* staged_;  // the staged file written into, which owns fd_; or none
    bool finished_ = false;
    BlockBuffer buffers_[2];
    int filling_ = 0;  // the buffer the operation fills; the writer owns the other

    // The hand-over: pending_ says the writer's buffer holds pendingBytes_ to write.
    // Each side spins a little before it sleeps on changed_ (see OutputFile.cpp).
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t pendingBytes_ = 0;
    std::atomic<bool> pending_ = false;
    std::atomic<bool> failed_ = false;
    std::atomic<int> error_ = 0;  // the errno of the first failure
    std::atomic<bool> stopping_ = false;
    KeptThread* writer_ = nullptr;
    std::function<void()> waitHook_;
};

}  // namespace engine
