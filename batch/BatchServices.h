#pragma once
// The window's services for one file of a batch: the dialogs are answered with the
// job's paths, the fields hold the command line's texts, result labels and messages
// are kept for the caller, and ending the process ends only this file's run.

#include "bitmap/Services.h"

#include <functional>
#include <map>
#include <optional>
#include <string>

namespace batch {

// Thrown where the window would end the process; the batch fails the file instead.
struct FileAbandoned {
    int status;
};

class BatchServices final : public bitmap::Services {
public:
    using MessageSink = std::function<void(const std::string&)>;

    // The open dialog answers input, the save dialog output (cancelled when empty).
    // Every message but "完了" goes to onMessage as it is shown.
    BatchServices(std::string input, std::string output, std::map<bitmap::Field, std::string> fields,
                  MessageSink onMessage);

    // True once the operation said "完了".
    bool completed() const noexcept { return completed_; }
    // The label's last text, empty when never set.
    std::string label(bitmap::ResultLabel label) const;
    // True when any message other than "完了" was shown.
    bool reportedTrouble() const noexcept { return reportedTrouble_; }

    std::optional<std::string> chooseFile(bitmap::FileDialog dialog, const bitmap::FileDialogRequest& request) override;
    void showMessage(const std::string& text) override;
    std::string fieldText(bitmap::Field field) override;
    void setResultLabel(bitmap::ResultLabel label, const std::string& text) override;
    bitmap::ProgressModel& progressBar() override { return progress_; }
    [[noreturn]] void exitProcess(int status) override;

protected:
    void pumpNow() override {}
    std::int64_t pumpInterval() const override { return INT64_MAX; }  // there are no events

private:
    std::string input_;
    std::string output_;
    std::map<bitmap::Field, std::string> fields_;
    MessageSink onMessage_;
    std::map<bitmap::ResultLabel, std::string> labels_;
    bitmap::ProgressModel progress_;
    bool completed_ = false;
    bool reportedTrouble_ = false;
};

}  // namespace batch
