#include "engine/ops/Kernels.h"

#include "engine/formats/ByteOrder.h"
#include "runtime/FloatDivision.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace engine {

namespace {

float reflectance(std::uint8_t byte, float white)
{
    const float value = runtime::divideToFloat(byte, white);
    return value > 1.0f ? 1.0f : value;
}

}  // namespace

float ndviOfReflectances(float nir, float red)
{
    // The sum and difference of two floats are exact in extended precision; only the
    // quotient is rounded, once to extended and once to float32, as the results have
    // always been defined.
    const long double sum = static_cast<long double>(nir) + red;
    if (sum == 0.0L) return kNdviMarker;
    return runtime::divideToFloat(static_cast<long double>(nir) - red, sum);
}

float bandReflectance(std::uint8_t byte, const BandCalibration& band)
{
    if (band.isPlainRatio()) return reflectance(byte, band.dnWhite);
    // The line through the two targets, in extended precision in the order it is
    // written, rounded once.
    const long double rise = (static_cast<long double>(byte) - band.dnDark) * (static_cast<long double>(band.rWhite) - band.rDark);
    const auto value = static_cast<float>(band.rDark + rise / (static_cast<long double>(band.dnWhite) - band.dnDark));
    return std::clamp(value, 0.0f, 1.0f);
}

float ndviPixel(std::uint8_t nirByte, std::uint8_t redByte, float nirWhite, float redWhite)
{
    const float red = reflectance(redByte, redWhite);  // red first: its error shows first
    const float nir = reflectance(nirByte, nirWhite);
    return ndviOfReflectances(nir, red);
}

NdviTable::NdviTable(float nirWhite, float redWhite) : values_(std::size_t{1} << 16)
{
    std::array<float, 256> red{};
    std::array<float, 256> nir{};
    for (int b = 0; b < 256; ++b) {
        red[b] = reflectance(static_cast<std::uint8_t>(b), redWhite);
        nir[b] = reflectance(static_cast<std::uint8_t>(b), nirWhite);
    }
    for (int n = 0; n < 256; ++n) {
        for (int r = 0; r < 256; ++r) values_[static_cast<std::size_t>(n) << 8 | r] = ndviOfReflectances(nir[n], red[r]);
    }
}

NdviTable::NdviTable(const NdviModel& model) : NdviTable(model, VegetationIndex{}) {}

NdviTable::NdviTable(const NdviModel& model, const VegetationIndex& index) : values_(std::size_t{1} << 16)
{
    std::array<float, 256> red{};
    std::array<float, 256> nir{};
    for (int b = 0; b < 256; ++b) {
        red[b] = bandReflectance(static_cast<std::uint8_t>(b), model.red);
        nir[b] = bandReflectance(static_cast<std::uint8_t>(b), model.nir);
    }
    for (int n = 0; n < 256; ++n) {
        for (int r = 0; r < 256; ++r) values_[static_cast<std::size_t>(n) << 8 | r] = indexOfReflectances(index, nir[n], red[r]);
    }
}

namespace {

#if defined(__x86_64__) || defined(__i386__)
// The byte-wise maxima of whole blocks of 192 bytes (64 pixels) into blockMax, 32
// bytes a lane: byte k of every block belongs to channel k % 3, as in scan(). Six
// registers of maxima, so that the loads, not the chain of maxima, set the pace.
// Returns the bytes taken.
__attribute__((target("avx2"))) std::size_t blockMaximaAvx2(const std::uint8_t* bytes, std::size_t size,
                                                             std::array<std::uint8_t, 48>& blockMax) noexcept
{
    constexpr std::size_t kBlock = 192;
    if (size < kBlock) return 0;
    __m256i m[6];
    for (auto& r : m) r = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + kBlock <= size; i += kBlock) {
        for (int r = 0; r < 6; ++r) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i + 32 * r));
            m[r] = _mm256_max_epu8(m[r], v);
        }
    }
    // Lane r holds bytes 32r..32r+31 of the block; 96 bytes is 32 whole pixels, so
    // lanes r and r + 3 hold the same channels at the same places.
    std::array<std::uint8_t, 96> lanes;
    for (int r = 0; r < 3; ++r) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes.data() + 32 * r), _mm256_max_epu8(m[r], m[r + 3]));
    }
    // Byte j of the 96 belongs to channel j % 3, and so does byte j % 48 of blockMax.
    for (std::size_t j = 0; j < lanes.size(); ++j) blockMax[j % 48] = std::max(blockMax[j % 48], lanes[j]);
    return i;
}

bool hasAvx2() noexcept
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#else
std::size_t blockMaximaAvx2(const std::uint8_t*, std::size_t, std::array<std::uint8_t, 48>&) noexcept { return 0; }
bool hasAvx2() noexcept { return false; }
#endif

}  // namespace

void ChannelMaxima::scan(const std::uint8_t* pixels, std::size_t count) noexcept
{
    // Bytes run blue, green, red, blue, ...; a block of 48 bytes is 16 whole pixels, so
    // byte k of every block belongs to channel k % 3. The byte-wise maxima over whole
    // blocks are a loop the compiler turns into vector code (each block is copied
    // first, which tells it the block cannot overlap the maxima); the channels are
    // sorted out of the 48 maxima once per call.
    constexpr std::size_t kBlock = 48;
    std::array<std::uint8_t, kBlock> blockMax{};
    const std::size_t bytes = 3 * count;
    std::size_t i = hasAvx2() ? blockMaximaAvx2(pixels, bytes, blockMax) : 0;
    for (; i + kBlock <= bytes; i += kBlock) {
        std::array<std::uint8_t, kBlock> block;
        std::copy_n(pixels + i, kBlock, block.begin());
        for (std::size_t k = 0; k < kBlock; ++k) blockMax[k] = std::max(blockMax[k], block[k]);
    }
    for (std::size_t k = 0; i + k < bytes; ++k) blockMax[k] = std::max(blockMax[k], pixels[i + k]);
    for (std::size_t k = 0; k < kBlock; ++k) max_[k % 3] = std::max(max_[k % 3], blockMax[k]);
}

std::array<std::uint8_t, 54> cropHeader(std::int32_t height) noexcept
{
    // Sizes are taken modulo 2^32, as the 32-bit fields hold them.
    const auto imageBytes = static_cast<std::uint32_t>(kCropRowBytes * height);
    std::array<std::uint8_t, 54> h{};
    h[0] = 'B';
    h[1] = 'M';
    storeLE32(&h[2], imageBytes + 54u);  // bfSize
    storeLE32(&h[10], 54);                // bfOffBits
    storeLE32(&h[14], 40);                // biSize
    storeLE32(&h[18], kCropWidth);        // biWidth
    storeLE32(&h[22], static_cast<std::uint32_t>(height));
    storeLE16(&h[26], 1);                 // biPlanes
    storeLE16(&h[28], 24);                // biBitCount
    storeLE32(&h[34], imageBytes);        // biSizeImage
    return h;
}

}  // namespace engine
