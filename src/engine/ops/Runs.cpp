#include "engine/ops/Runs.h"

#include "engine/calibration/FlatField.h"
#include "engine/platform/KeptThread.h"

#include "runtime/Exceptions.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <thread>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

namespace engine {

namespace {

void beforeRows(const RunControl& control)
{
    if (control.cancel && control.cancel->load(std::memory_order_relaxed)) throw runtime::EAbort();
}

void afterRows(const RunControl& control, std::int64_t rows, std::size_t pixels)
{
    if (control.onRows) control.onRows(rows, pixels);
}

// Rows per output block: at least RowStream::kBlockBytes of output, and no more rows
// than are left.
std::int64_t blockRows(std::size_t rowBytes, std::int64_t rows)
{
    const std::size_t perBlock = (RowStream::kBlockBytes + rowBytes - 1) / rowBytes;
    return std::min<std::int64_t>(rows, static_cast<std::int64_t>(std::max<std::size_t>(perBlock, 1)));
}

// How the area maxima and the NDVI take their rows. Read: on the virtual machines
// this runs on, mapping a page costs more than reading it (MAP_POPULATE or faults,
// with or without madvise), so that a 2048x1536 area maxima took 3.2 ms mapped
// against 1.1 ms read, and 75 against 17 ms at 8000x6000. The runs keep to the
// mapped stream's protocol all the same, so that a machine where mapping pays needs
// this one word changed.
constexpr RowStream::Reading kRunReading = RowStream::Reading::Copied;

// Rows mapped and written at a time by the crop's straight copy. One write of 16 MiB
// costs less than sixteen of 1 MiB (a 2048x1536 crop at 0.86-0.89x its floor against
// 0.95-0.99x), and the rows mapped at a time, resident while mapped, do not grow with
// the picture.
constexpr std::size_t kMappedBytes = std::size_t{16} << 20;

// A bottom-up picture of exactly 2048 columns is its crop, header aside: its stored
// rows go from the page cache straight into the output, one copy by the kernel instead
// of a read and a write. Returns the rows done; fewer than all where the file cannot
// be mapped, and the caller copies the rest. Empties header once it is written.
std::int64_t cropMapped(PictureReader& picture, BlockSink& out, std::span<const std::uint8_t>& header,
                        const RunControl& control)
{
    const std::int64_t rows = picture.height();
    const auto rowBytes = static_cast<std::size_t>(kCropRowBytes);
    const auto perMap = static_cast<std::int64_t>(kMappedBytes / rowBytes);
    std::int64_t done = 0;
    while (done < rows) {
        const std::int64_t n = std::min(perMap, rows - done);
        const MappedBytes mapped = picture.mapStored(done, n);
        if (!mapped) break;
        const std::size_t bytes = static_cast<std::size_t>(n) * rowBytes;
        beforeRows(control);
        const std::size_t wanted = header.size() + bytes;
        const std::size_t written = out.passThrough(header, mapped.data(), bytes);
        if (written < wanted) {
            // The mapped rows could not be read: read them, which tells why, and write
            // what did not go out.
            std::uint8_t* block = out.reserve(wanted);
            if (!header.empty()) std::memcpy(block, header.data(), header.size());
            picture.readStored(done, n, block + header.size());
            std::memmove(block, block + written, wanted - written);
            out.commit(wanted - written);
        }
        header = {};
        done += n;
        afterRows(control, n, kCropWidth);
    }
    return done;
}

}  // namespace

void requireCroppable(const PictureReader& picture)
{
    if (picture.height() > std::numeric_limits<std::int32_t>::max()) {
        throw EngineError(Failure::TooTall, picture.path());
    }
}

void runCrop(PictureReader& picture, BlockSink& out, const RunControl& control)
{
    requireCroppable(picture);
    const auto newHeader = cropHeader(static_cast<std::int32_t>(picture.height()));
    // Not yet written: it goes out in front of the first rows, in the same block, so
    // that a disk that fails takes the first block with it, whatever the timing.
    std::span<const std::uint8_t> header(newHeader);
    const std::int64_t rows = picture.height();
    const auto width = static_cast<std::size_t>(picture.width());
    std::int64_t done = 0;
    if (width == static_cast<std::size_t>(kCropWidth) && !picture.topDown() && out.passesThrough()) {
        done = cropMapped(picture, out, header, control);
    }

    const auto rowBytes = static_cast<std::size_t>(kCropRowBytes);
    const std::size_t kept = std::min(width * 3, rowBytes);  // bytes taken from each input row
    const std::int64_t perBlock = blockRows(rowBytes, rows);
    // Output rows go bottom row first. Wide pictures are read row by row, only the
    // columns kept; a bottom-up 2048-column picture straight into the output block.
    const bool wide = width >= static_cast<std::size_t>(kCropWidth);
    std::optional<RowStream> narrowRows;
    if (!wide) narrowRows.emplace(picture, RowStream::Order::BottomFirst, 0, 0);

    while (done < rows) {
        const std::int64_t n = std::min(perBlock, rows - done);
        const std::size_t bytes = header.size() + static_cast<std::size_t>(n) * rowBytes;
        std::uint8_t* block = out.reserve(bytes);
        if (!header.empty()) {
            std::memcpy(block, header.data(), header.size());
            block += header.size();
            header = {};
        }
        const bool byBlock = wide && !picture.topDown();
        if (byBlock) {
            beforeRows(control);
            if (width == static_cast<std::size_t>(kCropWidth)) {
                picture.readStored(done, n, block);
            } else {
                picture.readStoredColumns(done, n, rowBytes, block);
            }
        } else {
            for (std::int64_t i = 0; i < n; ++i) {
                beforeRows(control);
                std::uint8_t* row = block + static_cast<std::size_t>(i) * rowBytes;
                if (wide) {
                    // Top-down: output row k from the bottom is stored row rows-1-k.
                    picture.readStoredColumns(rows - 1 - (done + i), 1, rowBytes, row);
                } else {
                    std::memcpy(row, narrowRows->next(), kept);
                    std::memset(row + kept, 0, rowBytes - kept);
                }
                afterRows(control, 1, width);
            }
        }
        out.commit(bytes);
        done += n;
        if (byBlock) afterRows(control, n, width);
    }
    if (!header.empty()) out.write(header.data(), header.size());  // a picture of no rows
}

namespace {

// Bytes of stored rows the area maxima reads at a time: a quarter of this machine's
// 1 MiB second-level cache, so that the rows just read are still there when scanned.
constexpr std::size_t kScanBlockBytes = std::size_t{256} << 10;

// The rows y1..y2 of the rectangle's columns scanned on this thread, with the cancel
// check and the progress before and after each row.
ChannelMaxima scanRows(PictureReader& picture, std::int64_t y1, std::int64_t y2, std::size_t x1, std::size_t columns,
                       const std::function<bool()>& carryOn, const std::function<void()>& rowDone)
{
    ChannelMaxima max;
    if constexpr (kRunReading == RowStream::Reading::Copied) {
        // The stored rows in file order (the maxima do not depend on it), read a small
        // block at a time straight into a buffer that stays in the core's cache, so that
        // the scan takes the bytes the kernel has just copied from there.
        const auto stride = static_cast<std::size_t>(picture.stride());
        const std::int64_t count = y2 - y1 + 1;
        const std::int64_t perBlock =
            std::min<std::int64_t>(count, std::max<std::int64_t>(1, static_cast<std::int64_t>(kScanBlockBytes / stride)));
        const std::int64_t first = std::min(picture.storedIndex(y1), picture.storedIndex(y2));
        BlockBuffer buffer(static_cast<std::size_t>(perBlock) * stride);
        for (std::int64_t done = 0; done < count;) {
            if (!carryOn()) return max;
            const std::int64_t n = std::min(perBlock, count - done);
            picture.readStored(first + done, n, buffer.get());
            for (std::int64_t i = 0; i < n; ++i) {
                if (i > 0 && !carryOn()) return max;
                max.scan(buffer.get() + static_cast<std::size_t>(i) * stride + 3 * x1, columns);
                rowDone();
            }
            done += n;
        }
        return max;
    }
    RowStream rows(picture, RowStream::Order::TopFirst, y1, y2, kRunReading);
    for (std::int64_t y = y1; y <= y2; ++y) {
        if (!carryOn()) return max;
        max.scan(rows.next() + 3 * x1, columns);
        // Scanned again as read: what came from the file before the fault is in the
        // row read too, and the zeros in place of the rest raise no maximum.
        if (rows.lost()) max.scan(rows.again() + 3 * x1, columns);
        rowDone();
    }
    rows.confirm();
    return max;
}

// A rectangle of at least this many bytes is scanned on two threads, each reading its
// own half: copying a file's cached pages is bound by the core that copies, so two
// cores read it in about half the time. Below it, the hand-over costs more than the
// half saves.
constexpr std::size_t kSplitBytes = std::size_t{4} << 20;

}  // namespace

ChannelMaxima runAreaMaxima(PictureReader& picture, const Rectangle& area, const RunControl& control)
{
    if (area.y1 > area.y2) return {};
    const std::size_t columns = area.x1 <= area.x2 ? static_cast<std::size_t>(area.x2 - area.x1 + 1) : 0;
    if (columns == 0) {
        // Nothing to look at; the rows pass all the same, for the progress.
        for (std::int64_t y = area.y1; y <= area.y2; ++y) {
            beforeRows(control);
            afterRows(control, 1, 0);
        }
        return {};
    }
    const auto x1 = static_cast<std::size_t>(area.x1);
    const std::int64_t rows = area.y2 - area.y1 + 1;
    const auto here = [&] {
        beforeRows(control);
        return true;
    };
    const bool split = rows >= 2 && static_cast<std::size_t>(rows) * columns * 3 >= kSplitBytes &&
                       picture.readsConcurrently() && std::thread::hardware_concurrency() > 1;
    if (!split) return scanRows(picture, area.y1, area.y2, x1, columns, here, [&] { afterRows(control, 1, columns); });

    // The lower half on a kept thread; its rows are told to the progress here, on the
    // caller's thread, which alone may pump a window's events.
    const std::int64_t middle = area.y1 + rows / 2;
    std::atomic<bool> stop{false};
    std::atomic<bool> lowerDone{false};
    std::atomic<std::int64_t> lowerRows{0};
    ChannelMaxima lower;
    std::exception_ptr lowerError;
    KeptThread* helper = KeptThread::start([&] {
        try {
            lower = scanRows(
                picture, middle, area.y2, x1, columns,
                [&] {
                    return !stop.load(std::memory_order_relaxed) &&
                           !(control.cancel && control.cancel->load(std::memory_order_relaxed));
                },
                [&] { lowerRows.fetch_add(1, std::memory_order_relaxed); });
        } catch (...) {
            lowerError = std::current_exception();
        }
        lowerDone.store(true, std::memory_order_release);
    });
    std::int64_t told = 0;
    const auto tellLower = [&] {
        const std::int64_t n = lowerRows.load(std::memory_order_relaxed) - told;
        if (n > 0) afterRows(control, n, columns);
        told += n;
    };
    ChannelMaxima max;
    try {
        max = scanRows(picture, area.y1, middle - 1, x1, columns, here, [&] {
            afterRows(control, 1, columns);
            tellLower();
        });
        if (control.onRows) {
            // A window keeps answering while the other half ends.
            while (!lowerDone.load(std::memory_order_acquire)) {
                beforeRows(control);
                tellLower();
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
    } catch (...) {
        stop.store(true, std::memory_order_relaxed);
        helper->join();
        throw;
    }
    helper->join();
    if (lowerError) std::rethrow_exception(lowerError);
    tellLower();
    if (told < area.y2 - middle + 1) beforeRows(control);  // the lower half stopped for a cancel

    max.merge(lower);
    return max;
}

namespace {

// The NDVI raster's blocks of rows, each row made by makeRow(y, pixels, values): the
// table look-up of the plain run, or the flat-field's corrected arithmetic.
template <class MakeRow>
void ndviRows(RowStream& input, std::int64_t rows, std::size_t width, BlockSink* out, const NdviRowsObserver& observe,
              const RunControl& control, MakeRow&& makeRow)
{
    const std::size_t rowBytes = width * sizeof(float);
    const std::int64_t perBlock = blockRows(rowBytes, rows);
    std::unique_ptr<float[]> ownBlock;
    if (!out) ownBlock = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(perBlock) * width);
    for (std::int64_t done = 0; done < rows;) {
        const std::int64_t n = std::min(perBlock, rows - done);
        const std::size_t bytes = static_cast<std::size_t>(n) * rowBytes;
        float* block = out ? reinterpret_cast<float*>(out->reserve(bytes)) : ownBlock.get();
        for (std::int64_t i = 0; i < n; ++i) {
            beforeRows(control);
            float* values = block + static_cast<std::size_t>(i) * width;
            makeRow(done + i, input.next(), values);
            if (input.lost()) makeRow(done + i, input.again(), values);
            afterRows(control, 1, width);
        }
        input.confirm();
        if (observe) observe(done, n, block);
        if (out) out->commit(bytes);
        done += n;
    }
}

// The table of the white values or model asked for last, kept for the next run: frame
// after frame with the same panel skips building it (65,536 extended-precision
// divisions) and faulting in its 256 KiB, about a quarter of a millisecond, a tenth of
// a 2048x1536 frame. Models compare bit for bit. Plain white values are the plain
// model, whose table NdviTable computes with the very same reflectances.
std::shared_ptr<const NdviTable> keptTable(const NdviModel& model, const VegetationIndex& index = {})
{
    static std::mutex mutex;
    static std::shared_ptr<const NdviTable> table;
    static NdviModel tableModel;
    static VegetationIndex tableIndex;
    std::lock_guard lock(mutex);
    if (!table || std::memcmp(&tableModel, &model, sizeof model) != 0 || !(tableIndex == index)) {
        table = std::make_shared<const NdviTable>(model, index);
        tableModel = model;
        tableIndex = index;
    }
    return table;
}

}  // namespace

void runNdvi(PictureReader& picture, float nirWhite, float redWhite, BlockSink* out, const NdviRowsObserver& observe,
             const RunControl& control)
{
    const std::int64_t rows = picture.height();
    if (rows == 0) return;
    RowStream input(picture, RowStream::Order::TopFirst, 0, rows - 1, kRunReading);
    if (nirWhite == 0.0f || redWhite == 0.0f) {
        // A zero white value fails at the very first pixel, with the error that
        // pixel's bytes give.
        beforeRows(control);
        const std::uint8_t* first = input.next();
        std::uint8_t nir = first[2], red = first[1];
        if (input.lost()) {
            first = input.again();
            nir = first[2];
            red = first[1];
        }
        ndviPixel(nir, red, nirWhite, redWhite);
    }
    const auto table = keptTable(NdviModel::plain(nirWhite, redWhite));
    const auto width = static_cast<std::size_t>(picture.width());
    ndviRows(input, rows, width, out, observe, control,
             [&](std::int64_t, const std::uint8_t* pixels, float* values) { table->row(pixels, width, values); });
}

void runNdvi(PictureReader& picture, const NdviModel& model, BlockSink* out, const NdviRowsObserver& observe,
             const RunControl& control, const VegetationIndex& index)
{
    const std::int64_t rows = picture.height();
    if (rows == 0) return;
    RowStream input(picture, RowStream::Order::TopFirst, 0, rows - 1, kRunReading);
    const auto table = keptTable(model, index);
    const auto width = static_cast<std::size_t>(picture.width());
    ndviRows(input, rows, width, out, observe, control,
             [&](std::int64_t, const std::uint8_t* pixels, float* values) { table->row(pixels, width, values); });
}

void runCorrectedNdvi(PictureReader& picture, const FlatField& flat, const NdviModel& model, BlockSink* out,
                      const NdviRowsObserver& observe, const RunControl& control, const VegetationIndex& index)
{
    flat.requireSize(picture.width(), picture.height(), picture.path());
    const std::int64_t rows = picture.height();
    if (rows == 0) return;
    RowStream input(picture, RowStream::Order::TopFirst, 0, rows - 1, kRunReading);
    const auto width = static_cast<std::size_t>(picture.width());
    if (index.isNdvi()) {
        CorrectedNdviRows ndvi(flat, model);
        ndviRows(input, rows, width, out, observe, control,
                 [&](std::int64_t y, const std::uint8_t* pixels, float* values) { ndvi.row(y, pixels, values); });
        return;
    }
    // The corrected values as the NDVI's reference takes them, then the index of their
    // reflectances: one pixel at a time, as the other indices are not on the vector path.
    std::vector<float> nir(width), red(width);
    ndviRows(input, rows, width, out, observe, control, [&](std::int64_t y, const std::uint8_t* pixels, float* values) {
        correctedBands(flat, y, 0, width, pixels, nir.data(), red.data());
        for (std::size_t x = 0; x < width; ++x) {
            values[x] = indexOfReflectances(index, correctedReflectance(nir[x], model.nir),
                                            correctedReflectance(red[x], model.red));
        }
    });
}
}  // namespace engine
