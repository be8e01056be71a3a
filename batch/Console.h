#pragma once
// What the batch's threads say, serialised: messages to standard error prefixed with
// their file's path, result lines to standard output in input order, and on a
// terminal one progress line that the other output never breaks.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace batch {

// "処理中 12/300 ファイル  4.2 ファイル/秒  残り 1:08"; the rate and the time left
// only once a file is done.
std::string progressLine(std::size_t done, std::size_t total, double elapsedSeconds);

class Console {
public:
    Console(std::ostream& out, std::ostream& err, bool showProgress, std::size_t total);

    // "path: text", line breaks inside the text turned into ": ".
    void message(const std::string& path, const std::string& text);
    // Records file index as done and writes every result line now due, in order.
    void fileDone(std::size_t index, bool succeeded, const std::string& line);
    // Removes the progress line.
    void finish();

    // Indices of the files that failed, in order.
    std::vector<std::size_t> failed() const;

private:
    void clearProgress();
    // Draws the line again; while files are still running, at most ten times a second.
    void drawProgress(bool evenIfRecent = true);

    mutable std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    const bool showProgress_;
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::vector<std::optional<std::string>> lines_;  // set once the file is done
    std::vector<bool> failed_;
    std::size_t done_ = 0;
    std::size_t nextToWrite_ = 0;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastDrawn_{};
};

}  // namespace batch
