#pragma once
// What an operation needs from the world around it. The window implements this with
// real widgets, the tests with a scripted fake, the batch tool with its arguments.
// Strings cross this seam as UTF-8; paths too.

#include "window/ProgressModel.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace window {

enum class FileDialog { Open, Save };  // OpenDialog1, SaveDialog1

struct FileDialogRequest {
    std::string title;
    std::string filter;      // "description|pattern", as the operations write it
    std::string defaultExt;  // with its leading dot
};

enum class Field { Edit1 = 1, Edit2, Edit3, Edit4, Edit5, Edit6 };
enum class ResultLabel { Label8 = 8, Label9, Label10 };

class Services {
public:
    virtual ~Services() = default;

    // Shows the dialog modally; the chosen full path when confirmed, nothing when
    // cancelled. The dialog keeps its last confirmed name for its next use.
    virtual std::optional<std::string> chooseFile(FileDialog dialog, const FileDialogRequest& request) = 0;

    // A modal message with one OK button; returns when it is dismissed.
    virtual void showMessage(const std::string& text) = 0;

    virtual std::string fieldText(Field field) = 0;
    virtual void setResultLabel(ResultLabel label, const std::string& text) = 0;

    virtual ProgressModel& progressBar() = 0;

    // Ends the whole process with this status, after the operation's fatal message.
    [[noreturn]] virtual void exitProcess(int status) = 0;

    // The event pump, called once per pixel or per row with the work done since the
    // last call. It has to cost next to nothing in the hot loops, so it only counts
    // down; every pumpInterval() units of work it hands over to pumpNow(), which
    // decides whether enough time has passed to handle waiting events.
    void pumpEvents(std::uint32_t work = 1)
    {
        pumpBudget_ -= static_cast<std::int64_t>(work);
        if (pumpBudget_ <= 0) {
            pumpBudget_ = pumpInterval();
            pumpNow();
        }
    }

    // How many units of work are left before the next hand-over to pumpNow(), at
    // least 1. Doing up to that many units and then calling pumpEvents(units) once is
    // the same as calling pumpEvents() after each unit: pumpNow() runs after the very
    // same unit. That lets a hot loop run free of the pump (see forEachPumped).
    std::int64_t pumpRunway() const noexcept { return pumpBudget_ > 0 ? pumpBudget_ : 1; }

    // The pump while an operation waits for its output to be written (a disk that holds
    // its writes); the window hands over to pumpNow(), so that it answers meanwhile.
    // Nothing by default: waits take the time the disk takes, not units of work.
    virtual void pumpWhileWaiting() {}

protected:
    virtual void pumpNow() = 0;
    // Units of work between two calls of pumpNow(); 1 hands over every call.
    virtual std::int64_t pumpInterval() const { return 1; }

private:
    std::int64_t pumpBudget_ = 0;
};

// Runs body(first, count) over the units [0, total) in stretches that end where the
// pump hands over, and pumps once after each stretch for all of its units: the same as
// pumping after every unit, with an inner loop free to be vectorised.
template <class Body>
void forEachPumped(Services& services, std::size_t total, Body&& body)
{
    constexpr std::size_t kMostPerCall = std::numeric_limits<std::uint32_t>::max();
    for (std::size_t first = 0; first < total;) {
        const std::size_t count =
            std::min({total - first, static_cast<std::size_t>(services.pumpRunway()), kMostPerCall});
        body(first, count);
        services.pumpEvents(static_cast<std::uint32_t>(count));
        first += count;
    }
}

}  // namespace window
