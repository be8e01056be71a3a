#pragma once
// Steps the window's three operations share, each with the message the user gets
// when it cannot go on.

#include "engine/formats/PictureReader.h"
#include "engine/ops/Runs.h"
#include "engine/output/OutputFile.h"
#include "engine/platform/Messages.h"
#include "window/Services.h"

#include <memory>
#include <optional>
#include <string>

namespace window {

using engine::EngineError;
using engine::OutputFile;
using engine::PictureReader;

inline constexpr const char* kBmpFilter = "BMPファイル (*.bmp) | *.bmp";

// Opens the chosen input and reads its headers; tells the user and gives nothing when
// it cannot be opened.
std::optional<PictureReader> openInput(Services& services, const std::string& path);

// Applies the bit-depth gate and the checks of a readable 24-bit picture. An 8-bit
// picture gets the operation's own message and ends the process with status -1; any
// other picture that cannot be read right gets the engine's message and false.
bool gateInput(Services& services, PictureReader& picture, const char* eightBitMessage);

// Creates the chosen output, refusing the input file itself under any name so that
// the user's picture is never truncated; tells the user and gives nothing when it
// cannot.
std::unique_ptr<OutputFile> createOutput(Services& services, const PictureReader& picture, const std::string& path);

// Runs body; an engine failure on the way (a read or write error) is shown to the
// user in place of the completion message and gives false.
template <class Body>
bool runReporting(Services& services, Body&& body)
{
    try {
        body();
        return true;
    } catch (const EngineError& e) {
        services.showMessage(e.what());
        return false;
    }
}

}  // namespace window
