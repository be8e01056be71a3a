#include "batch/Tidy.h"

#include "batch/Runner.h"
#include "engine/output/OutputJournal.h"
#include "engine/platform/EngineError.h"
#include "engine/platform/SystemReason.h"

namespace batch {

int runTidy(const std::vector<std::string>& folders, std::ostream& out, std::ostream& err)
{
    if (folders.empty()) return badUsage(err, "整理するフォルダを指定してください");
    int status = kAllSucceeded;
    for (const auto& folder : folders) {
        try {
            for (const auto& step : engine::tidyFolder(folder)) {
                out << folder << ": " << engine::tidyLine(step) << '\n';
                if (step.kind == engine::TidyStep::Failed) status = kSomeFailed;
            }
        } catch (const engine::EngineError& e) {
            err << "zrvimage-batch: フォルダを読めません（" << engine::systemReason(e.systemError()) << "）: " << folder
                << '\n';
            status = kSomeFailed;
        }
    }
    return status;
}

}  // namespace batch
