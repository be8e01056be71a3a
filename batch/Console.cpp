#include "batch/Console.h"

#include <cstdio>

namespace batch {

namespace {

std::string durationText(double seconds)
{
    const long long total = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

}  // namespace

std::string progressLine(std::size_t done, std::size_t total, double elapsedSeconds)
{
    std::string line = "処理中 " + std::to_string(done) + "/" + std::to_string(total) + " ファイル";
    if (done == 0 || elapsedSeconds <= 0.0) return line;
    const double rate = static_cast<double>(done) / elapsedSeconds;
    char rateText[32];
    std::snprintf(rateText, sizeof rateText, "%.1f", rate);
    return line + "  " + rateText + " ファイル/秒  残り " + durationText(static_cast<double>(total - done) / rate);
}

Console::Console(std::ostream& out, std::ostream& err, bool showProgress, std::size_t total)
    : out_(out), err_(err), showProgress_(showProgress), lines_(total), failed_(total, false)
{
    std::lock_guard lock(mutex_);
    drawProgress();
}

void Console::message(const std::string& path, const std::string& text)
{
    std::string oneLine;
    for (const char c : text) {
        if (c == '\n') {
            oneLine += ": ";
        } else {
            oneLine += c;
        }
    }
    std::lock_guard lock(mutex_);
    clearProgress();
    err_ << path << ": " << oneLine << '\n';
    drawProgress();
}

void Console::fileDone(std::size_t index, bool succeeded, const std::string& line)
{
    std::lock_guard lock(mutex_);
    lines_[index] = line;
    failed_[index] = !succeeded;
    ++done_;
    std::string due;
    for (; nextToWrite_ < lines_.size() && lines_[nextToWrite_]; ++nextToWrite_) {
        due += *lines_[nextToWrite_];
        lines_[nextToWrite_]->clear();
    }
    if (!due.empty()) {
        clearProgress();  // standard output may share the terminal
        out_ << due << std::flush;
    }
    drawProgress(done_ == lines_.size());
}

void Console::finish()
{
    std::lock_guard lock(mutex_);
    clearProgress();
}

std::vector<std::size_t> Console::failed() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::size_t> indices;
    for (std::size_t i = 0; i < failed_.size(); ++i) {
        if (failed_[i]) indices.push_back(i);
    }
    return indices;
}

void Console::clearProgress()
{
    if (!progressShown_) return;
    err_ << "\r\033[K";
    progressShown_ = false;
}

void Console::drawProgress(bool evenIfRecent)
{
    if (!showProgress_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!evenIfRecent && progressShown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
    lastDrawn_ = now;
    const std::chrono::duration<double> elapsed = now - start_;
    err_ << '\r' << progressLine(done_, lines_.size(), elapsed.count()) << "\033[K" << std::flush;
    progressShown_ = true;
}

}  // namespace batch
