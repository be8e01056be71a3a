#pragma once
// A scripted stand-in for the window: answers for the dialogs, field texts, and a
// record of everything the operation showed, so operations run without Qt.

#include "window/Services.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Thrown in place of ending the process, so a test can see the status.
struct ProcessExit {
    int status;
};

class FakeServices : public window::Services {
public:
    FakeServices();

    // Answers for the dialogs, consumed in order; nullopt is a cancel. With no
    // answer left a dialog is cancelled.
    std::deque<std::optional<std::string>> dialogAnswers;
    std::map<window::Field, std::string> fields;
    std::map<window::ResultLabel, std::string> labels;

    // What the operation did, in order.
    std::vector<window::FileDialog> dialogsShown;
    std::vector<window::FileDialogRequest> dialogRequests;
    std::vector<std::string> messages;
    std::int64_t pumps = 0;
    // Units of work between two hand-overs to the pump (pumps counts those); 1 hands
    // over every call, the window takes 16384.
    std::int64_t pumpEvery = 1;
    window::ProgressModel progress;
    // Progress position each time a message was shown, and the labels then.
    std::vector<int> positionAtMessage;
    std::vector<std::map<window::ResultLabel, std::string>> labelsAtMessage;

    std::optional<std::string> chooseFile(window::FileDialog dialog, const window::FileDialogRequest& request) override;
    void showMessage(const std::string& text) override;
    std::string fieldText(window::Field field) override { return fields[field]; }
    void setResultLabel(window::ResultLabel label, const std::string& text) override { labels[label] = text; }
    window::ProgressModel& progressBar() override { return progress; }
    [[noreturn]] void exitProcess(int status) override { throw ProcessExit{status}; }
    // Counted apart from pumps: how often the pump ran while the output was being
    // written, which depends on the disk.
    int waitingPumps = 0;
    std::function<void()> onWaitingPump;
    void pumpWhileWaiting() override
    {
        ++waitingPumps;
        if (onWaitingPump) onWaitingPump();
    }

protected:
    void pumpNow() override { ++pumps; }
    std::int64_t pumpInterval() const override { return pumpEvery; }
};

}  // namespace testing_support
