#include "bitmap/OperationSteps.h"

namespace bitmap {

namespace {

std::string withPath(const char* message, const std::string& path)
{
    return std::string(message) + "\n" + path;
}

}  // namespace

std::optional<InputFile> openInput(Services& services, const std::string& path)
{
    auto input = InputFile::open(path);
    if (!input) services.showMessage(withPath(kCannotOpenInput, path));
    return input;
}

std::optional<BitmapProbe> probeAndGate(Services& services, InputFile& input, const char* eightBitMessage)
{
    const BitmapProbe p = probe(input);
    const Gate verdict = gate(p);
    if (verdict == Gate::EightBit) {
        services.showMessage(eightBitMessage);
        services.exitProcess(-1);
    }
    if (verdict == Gate::TooWide) services.showMessage(kTooWide);
    if (verdict != Gate::Proceed) return std::nullopt;
    return p;
}

std::optional<OutputFile> createOutput(Services& services, const InputFile& input, const std::string& path)
{
    if (input.isSameFile(path)) {
        services.showMessage(kOutputIsInput);
        return std::nullopt;
    }
    auto output = OutputFile::create(path);
    if (!output) services.showMessage(withPath(kCannotCreateOutput, path));
    return output;
}

void reportCompletion(Services& services, bool written, const std::string& outputPath)
{
    services.showMessage(written ? kDoneMessage : withPath(kWriteFailed, outputPath));
}

}  // namespace bitmap
