#pragma once
// One run of an operation against the fake window in a fresh folder: the input
// picture written there, the open and save dialogs answered with its paths, and
// helpers to see how the run ended.

#include "BmpFixture.h"
#include "FakeServices.h"
#include "runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <typeinfo>
#include <vector>

namespace testing_support {

struct OperationRun {
    TempDir dir;
    std::filesystem::path input = dir.path("in.bmp");
    std::filesystem::path output = dir.path("out.dat");
    FakeServices fake;

    // Writes the input and answers the open dialog with it and the save dialog (for
    // the operations that show one) with the output path.
    explicit OperationRun(const std::vector<std::uint8_t>& bmp)
    {
        writeFile(input, bmp);
        fake.dialogAnswers = {input.string(), output.string()};
    }

    bool outputExists() const { return std::filesystem::exists(output); }
    std::vector<std::uint8_t> outputBytes() const { return readFile(output); }

    // Names of the files in the run's folder, sorted.
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.dir())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// The status f ended the process with; nothing when it returned.
template <class F>
std::optional<int> exitStatusOf(F&& f)
{
    try {
        f();
    } catch (const ProcessExit& e) {
        return e.status;
    }
    return std::nullopt;
}

// The message of the error f raises, which must be exactly of the kind Kind.
template <class Kind, class F>
std::string messageOfError(F&& f)
{
    try {
        f();
    } catch (const runtime::Exception& e) {
        EXPECT_EQ(typeid(e), typeid(Kind)) << "raised " << typeid(e).name() << ": " << e.message();
        return e.message();
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

// The progress bar as the window creates it, never touched since.
inline bool progressUntouched(const window::ProgressModel& p)
{
    return p.min() == 0 && p.max() == 100 && p.position() == 0 && p.step() == 10 && p.stepCount() == 0;
}

}  // namespace testing_support
