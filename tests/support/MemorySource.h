#pragma once
// A picture's bytes in memory for the reader, optionally failing like a dying card:
// every read that reaches failFrom throws the reader's I/O error.

#include "engine/formats/PictureReader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

class MemorySource final : public engine::ByteSource {
public:
    explicit MemorySource(std::vector<std::uint8_t> bytes,
                          std::int64_t failFrom = std::numeric_limits<std::int64_t>::max())
        : bytes_(std::move(bytes)), failFrom_(failFrom)
    {
    }

    std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }

    std::size_t readAt(std::int64_t offset, std::uint8_t* buffer, std::size_t size) override
    {
        if (offset + static_cast<std::int64_t>(size) > failFrom_) {
            throw engine::EngineError(engine::Failure::ReadFailed, "memory");
        }
        if (offset >= this->size()) return 0;
        const std::size_t n = std::min(size, bytes_.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, bytes_.data() + offset, n);
        return n;
    }

    bool isSameFile(const std::string&) const override { return false; }

    // Drops bytes from the end, as a file cut short while it is being read.
    void shrinkTo(std::size_t size) { bytes_.resize(size); }

private:
    std::vector<std::uint8_t> bytes_;
    std::int64_t failFrom_;
};

inline engine::PictureReader readerOf(std::vector<std::uint8_t> bytes,
                                      std::int64_t failFrom = std::numeric_limits<std::int64_t>::max())
{
    return engine::PictureReader(std::make_unique<MemorySource>(std::move(bytes), failFrom), "memory");
}

}  // namespace testing_support
