#include "view/season/SeasonFrames.h"

#include "engine/formats/PictureReader.h"
#include "engine/platform/EngineError.h"
#include "runtime/Exceptions.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <new>

namespace view {

namespace {

// Messages are shown on one line of the frame list; the engine's keep the path on a
// line of their own.
QString oneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

QString named(const QString& text, const QString& path)
{
    const QString shown = QDir::toNativeSeparators(path);
    return oneLine(text.contains(shown) || text.contains(path) ? text : text + QLatin1Char(' ') + shown);
}

}  // namespace

std::string encodedPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::vector<SeasonEntry> listSeasonFolder(const QString& folder, const engine::TimeSource& source)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    std::vector<engine::SeasonFrame> timed;
    std::vector<SeasonEntry> untimed;
    for (const QFileInfo& info : files) {
        if (info.suffix().compare(QLatin1String("bmp"), Qt::CaseInsensitive) != 0) continue;
        const QString path = info.absoluteFilePath();
        try {
            timed.push_back({encodedPath(path), engine::frameTime(encodedPath(path), source), {}});
        } catch (const std::exception& e) {
            untimed.push_back({path, {}, {}, named(QString::fromUtf8(e.what()), path)});
        }
    }
    // The table's own order, so that the list and the CSV never disagree.
    engine::sortSeasonFrames(timed);
    std::vector<SeasonEntry> entries;
    entries.reserve(timed.size() + untimed.size());
    for (const engine::SeasonFrame& f : timed) {
        entries.push_back({QFile::decodeName(QByteArray::fromStdString(f.file)), f.time, {}, {}});
    }
    std::sort(untimed.begin(), untimed.end(), [](const SeasonEntry& a, const SeasonEntry& b) {
        return encodedPath(a.path) < encodedPath(b.path);
    });
    for (SeasonEntry& e : untimed) entries.push_back(std::move(e));
    return entries;
}

FrameOutcome workOutFrame(const QString& path, const engine::RegionSet& regions,
                          const engine::SeasonSettings& settings, const std::atomic<bool>* cancel)
{
    FrameOutcome out;
    const std::string file = encodedPath(path);
    try {
        engine::PictureReader reader = engine::PictureReader::open(file);
        reader.require24Bit(engine::PictureReader::Signature::Names);
        engine::RunControl control;
        control.cancel = cancel;
        out.figures = engine::seasonFrameFigures(reader, regions, settings, control);
    } catch (const runtime::EAbort&) {
        out.cancelled = true;
    } catch (const std::bad_alloc&) {
        out.problem = named(QString::fromStdString(engine::failureMessage(engine::Failure::ReadFailed, file)), path);
    } catch (const runtime::Exception& e) {
        out.problem = named(QString::fromStdString(e.message()), path);
    } catch (const std::exception& e) {
        out.problem = named(QString::fromUtf8(e.what()), path);
    }
    if (cancel && cancel->load() && !out.figures) {
        out.problem.clear();
        out.cancelled = true;
    }
    return out;
}

std::string seasonCsv(const std::vector<SeasonEntry>& entries, const engine::RegionSet& regions)
{
    std::vector<engine::SeasonFrame> frames;
    for (const SeasonEntry& e : entries) {
        if (e.figures) frames.push_back({encodedPath(e.path), e.time, *e.figures});
    }
    engine::sortSeasonFrames(frames);
    std::string csv = engine::seasonCsvHeader(regions.usesMarkers());
    for (const engine::SeasonFrame& f : frames) csv += engine::seasonCsvRows(f, regions);
    return csv;
}

}  // namespace view
