#include "FuzzHarness.h"

#include "runtime/Exceptions.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace fuzzing {

void check(bool condition, const char* what, const char* file, int line)
{
    if (condition) return;
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
    std::abort();
}

Case split(const std::uint8_t* data, std::size_t size, int fieldCount)
{
    Case c;
    std::size_t i = 0;
    for (int f = 0; f < fieldCount; ++f) {
        std::size_t length = 0;
        if (i < size) length = data[i++] % 32;
        if (length > size - i) length = size - i;
        c.fields.emplace_back(reinterpret_cast<const char*>(data + i), length);
        i += length;
    }
    c.file.assign(data + i, data + size);
    return c;
}

Bytes join(const std::vector<std::string>& fields, const Bytes& file)
{
    Bytes out;
    for (const auto& text : fields) {
        out.push_back(static_cast<std::uint8_t>(text.size()));
        out.insert(out.end(), text.begin(), text.end());
    }
    out.insert(out.end(), file.begin(), file.end());
    return out;
}

Bytes bytesAt(const Bytes& file, std::int64_t offset, std::size_t size)
{
    Bytes out(size, 0);
    if (offset < 0) return out;
    const std::int64_t end = static_cast<std::int64_t>(file.size());
    const std::int64_t to = std::min<std::int64_t>(offset + static_cast<std::int64_t>(size), end);
    for (std::int64_t at = offset; at < to; ++at) out[static_cast<std::size_t>(at - offset)] = file[static_cast<std::size_t>(at)];
    return out;
}

Header headerOf(const Bytes& file)
{
    const Bytes h = bytesAt(file, 0, 54);
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t{h[at]} | std::uint32_t{h[at + 1]} << 8 | std::uint32_t{h[at + 2]} << 16
               | std::uint32_t{h[at + 3]} << 24;
    };
    return {static_cast<std::int32_t>(u32(18)), static_cast<std::int32_t>(u32(22)),
            static_cast<std::uint16_t>(h[28] | h[29] << 8), u32(10), u32(14), u32(30),
            static_cast<std::int64_t>(file.size())};
}

std::int64_t imageRowOffset(const Header& header, std::int64_t y)
{
    const std::int64_t stored = header.height < 0 ? y : header.rows() - 1 - y;
    return header.pixelOffset + stored * strideOf(header.width);
}

std::int64_t strideOf(std::int32_t width)
{
    return (std::int64_t{width} * 3 + 3) / 4 * 4;
}

Scratch& Scratch::get()
{
    static Scratch scratch;
    return scratch;
}

Scratch::Scratch()
{
    std::filesystem::path base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "zrvimage-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    dir_ = pattern;
    input_ = dir_ / "in.bmp";
    output_ = dir_ / "out.dat";
}

Scratch::~Scratch()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

void Scratch::prepare(const Bytes& file)
{
    std::error_code ec;
    std::filesystem::remove(output_, ec);
    std::FILE* f = std::fopen(input_.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    if (!file.empty()) FUZZ_CHECK(std::fwrite(file.data(), 1, file.size(), f) == file.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

bool Scratch::outputExists() const
{
    std::error_code ec;
    return std::filesystem::exists(output_, ec);
}

Bytes Scratch::outputBytes() const
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(output_, ec);
    if (ec) return {};
    Bytes bytes(size);
    std::FILE* f = std::fopen(output_.c_str(), "rb");
    FUZZ_CHECK(f != nullptr);
    if (size != 0) FUZZ_CHECK(std::fread(bytes.data(), 1, size, f) == size);
    std::fclose(f);
    return bytes;
}

Outcome run(void (*operation)(window::Services&), testing_support::FakeServices& fake)
{
    fake.dialogAnswers = {Scratch::get().input(), Scratch::get().output()};
    Outcome outcome;
    try {
        operation(fake);
    } catch (const testing_support::ProcessExit& e) {
        outcome.exitStatus = e.status;
    } catch (const runtime::Exception& e) {
        outcome.error = &typeid(e);
        outcome.errorMessage = e.message();
    }
    return outcome;
}

}  // namespace fuzzing

namespace fuzzing {

Verdict verdictOf(const Header& header)
{
    if (header.bitCount == 8) return Verdict::EightBit;
    return refusalOf(header).empty() ? Verdict::Proceed : Verdict::Refused;
}

std::string refusalOf(const Header& h)
{
    const std::string path = "\n" + Scratch::get().input();
    if (h.fileSize < 54) return "画像ファイルが途中で切れています" + path;
    if (h.bitCount != 24) return "24ビットカラー画像以外には対応していません（" + std::to_string(h.bitCount) + "ビット）";
    if (h.infoSize < 40) return "対応していない形式のBMPファイルです" + path;
    if (h.compression != 0) return "圧縮されたBMPファイルには対応していません" + path;
    if (h.width <= 0) return "画像の幅が正しくありません" + path;
    if (h.width > 1'000'000) return "画像の幅が大きすぎます";
    if (h.pixelOffset < 14 + std::int64_t{h.infoSize} || h.pixelOffset > h.fileSize) {
        return "画素データの位置が正しくありません" + path;
    }
    if (h.rows() > 0 && h.pixelOffset + (h.rows() - 1) * strideOf(h.width) + std::int64_t{h.width} * 3 > h.fileSize) {
        return "画像ファイルが途中で切れています" + path;
    }
    return {};
}

bool checkGateStop(const Header& header, const Outcome& outcome, const testing_support::FakeServices& fake,
                   const char* eightBitMessage)
{
    using Messages = std::vector<std::string>;
    switch (verdictOf(header)) {
    case Verdict::Proceed:
        return false;
    case Verdict::EightBit:
        FUZZ_CHECK(outcome.exitStatus == -1);
        FUZZ_CHECK(fake.messages == Messages{eightBitMessage});
        break;
    case Verdict::Refused:
        FUZZ_CHECK(outcome.returned());
        FUZZ_CHECK(fake.messages == Messages{refusalOf(header)});
        break;
    }
    FUZZ_CHECK(fake.pumps == 0);
    FUZZ_CHECK(fake.progress.stepCount() == 0);
    FUZZ_CHECK(!Scratch::get().outputExists());
    return true;
}

}  // namespace fuzzing
