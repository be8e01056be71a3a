#pragma once
// Runs the batch in this process, as the program would, and keeps what it wrote.

#include "batch/Runner.h"
#include "engine/platform/Platform.h"
#include "window/AreaMaxima.h"

#include "BmpFixture.h"
#include "FakeServices.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace batch_testing {

struct BatchResult {
    int status;
    std::string out;
    std::string err;
};

inline BatchResult runBatch(const std::vector<std::string>& args, bool errIsTerminal = false)
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = batch::run(args, out, err, errIsTerminal);
    return {status, out.str(), err.str()};
}

// A path as the batch takes and prints it: UTF-8 whatever the system's code page.
inline std::string u8(const std::filesystem::path& path)
{
    return engine::platform::utf8Of(path);
}

// The bytes the window's operation writes for this input, run with the test fake.
inline std::vector<std::uint8_t> windowOutput(const std::function<void(window::Services&)>& operation,
                                              const std::filesystem::path& input,
                                              std::map<window::Field, std::string> fields = {})
{
    testing_support::TempDir dir;
    const auto output = dir.path("window.out");
    testing_support::FakeServices fake;
    for (auto& [field, text] : fields) fake.fields[field] = text;
    fake.dialogAnswers = {u8(input), u8(output)};
    operation(fake);
    return testing_support::readFile(output);
}

// The red, green and blue maxima the window shows for this input and rectangle.
inline std::vector<std::string> windowMaxima(const std::filesystem::path& input, const std::vector<std::string>& rect)
{
    using window::Field;
    testing_support::FakeServices fake;
    fake.fields = {{Field::Edit1, rect[0]}, {Field::Edit2, rect[1]}, {Field::Edit3, rect[2]}, {Field::Edit4, rect[3]}};
    fake.dialogAnswers = {u8(input)};
    window::findAreaMaxima(fake);
    using window::ResultLabel;
    return {fake.labels[ResultLabel::Label8], fake.labels[ResultLabel::Label9], fake.labels[ResultLabel::Label10]};
}

// Every file and folder under dir, hidden ones included, relative to it with
// forward slashes, sorted.
inline std::vector<std::string> filesIn(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        std::string name = u8(std::filesystem::relative(entry.path(), dir));
#ifdef _WIN32
        std::replace(name.begin(), name.end(), '\\', '/');
#endif
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A line of the batch's text output: the path and the values, tab-separated.
inline std::string lineOf(const std::string& path, const std::vector<std::string>& values)
{
    std::string line = path;
    for (const auto& v : values) line += '\t' + v;
    return line + '\n';
}

}  // namespace batch_testing
