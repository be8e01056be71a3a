// Folders and files named in Japanese and other scripts, in the arguments and in the
// outputs, through the program as a user's script starts it: the same files and the
// same results as under plain ASCII names.

#include "BatchRun.h"
#include "Program.h"

#include "batch/Report.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace batch_testing;
using testing_support::asymmetricPicture;
using testing_support::encodeBmp;
using testing_support::readFile;
using testing_support::TempDir;
using testing_support::writeFile;
namespace fs = std::filesystem;

struct Named {
    const char* script;
    const char* folder;  // holds the picture; the outputs go to a folder beside it
    const char* stem;    // the picture's name without .bmp
};

// What a run left: the outputs by their names with the stem as "STEM", and what it
// printed with its paths as IN and OUT.
struct Outcome {
    std::map<std::string, std::vector<std::uint8_t>> files;
    std::vector<std::string> printed;
};

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
}

// A JSON string literal's inside, as the batch writes a path in it.
std::string jsonInside(const std::string& text)
{
    const std::string literal = batch::jsonString(text);
    return literal.substr(1, literal.size() - 2);
}

Outcome runAll(const Named& n)
{
    TempDir dir;
    const fs::path folder = dir.dir() / engine::platform::pathOf(n.folder);
    const fs::path out = dir.dir() / engine::platform::pathOf(std::string(n.folder) + " (" + n.stem + ")");
    const fs::path input = folder / engine::platform::pathOf(std::string(n.stem) + ".bmp");
    fs::create_directories(folder);
    writeFile(input, encodeBmp(asymmetricPicture(2051, 4)));
    const std::string in = u8(input);
    const std::string o = u8(out);
    const std::string raw = u8(out / engine::platform::pathOf(std::string(n.stem) + ".raw"));
    const std::string png = u8(out / engine::platform::pathOf(std::string(n.stem) + ".png"));

    const std::vector<std::vector<std::string>> commands = {
        {"crop", in, "--out-dir", o},
        {"maxima", in, "--rect", "0,0,2050,3"},
        {"maxima", in, "--rect", "5,1,2000,2", "--json"},
        {"ndvi", in, "-o", raw, "--nir-white", "200", "--red-white", "190", "--envi-header", "--preview", png, "--stats"},
        {"ndvi", in, "-o", raw, "--nir-white", "200", "--red-white", "190", "--json", "--force"},
    };
    Outcome outcome;
    for (const auto& args : commands) {
        const ProgramRun run = runProgram(args, dir.dir());
        EXPECT_EQ(run.status, 0) << n.script << ": " << args[0] << "\n" << run.err;
        EXPECT_EQ(run.err, "") << n.script << ": " << args[0];
        EXPECT_EQ(run.out.find('\r'), std::string::npos) << "lines end in LF alone, as on every system";
        std::string printed = run.out;
        replaceAll(printed, jsonInside(raw), "OUT");
        replaceAll(printed, jsonInside(in), "IN");
        replaceAll(printed, raw, "OUT");
        replaceAll(printed, in, "IN");
        outcome.printed.push_back(printed);
    }
    for (const auto& name : filesIn(out)) {
        std::string generic = name;
        replaceAll(generic, n.stem, "STEM");
        outcome.files[generic] = readFile(out / engine::platform::pathOf(name));
    }
    return outcome;
}

TEST(ScriptNames, GiveTheSameOutputsAndResultsAsAsciiNames)
{
    const Named ascii{"ASCII", "frames", "field_1"};
    const Outcome expected = runAll(ascii);
    ASSERT_EQ(expected.files.size(), 4u);  // the crop, the raster, its header and the preview
    ASSERT_NE(expected.printed[1].find("IN\t"), std::string::npos) << expected.printed[1];

    const Named others[] = {
        {"Japanese", "圃場の写真", "畑_一番"},
        {"Cyrillic", "снимки поля", "участок_1"},
        {"accented Latin", "Photos d'été", "Champ_à_l'ouest"},
    };
    for (const auto& n : others) {
        SCOPED_TRACE(n.script);
        const Outcome outcome = runAll(n);
        EXPECT_EQ(outcome.printed, expected.printed);
        ASSERT_EQ(outcome.files.size(), expected.files.size());
        for (const auto& [name, bytes] : expected.files) {
            EXPECT_TRUE(outcome.files.contains(name) && outcome.files.at(name) == bytes) << name;
        }
    }
}

}  // namespace
