#include "window/OperationSteps.h"

namespace window {

using namespace engine;  // the scripts are written in the engine's terms

std::optional<PictureReader> openInput(Services& services, const std::string& path)
{
    try {
        return PictureReader::open(path);
    } catch (const EngineError& e) {
        services.showMessage(e.what());
        return std::nullopt;
    }
}

bool gateInput(Services& services, PictureReader& picture, const char* eightBitMessage)
{
    if (picture.header().bitCount == 8) {
        services.showMessage(eightBitMessage);
        services.exitProcess(-1);
    }
    return runReporting(services, [&] { picture.require24Bit(); });
}

std::unique_ptr<OutputFile> createOutput(Services& services, const PictureReader& picture, const std::string& path)
{
    std::unique_ptr<OutputFile> output;
    runReporting(services, [&] { output = OutputFile::create(path, &picture); });
    if (output) output->setWaitHook([&services] { services.pumpWhileWaiting(); });
    return output;
}

}  // namespace window
