#include "batch/EnviHeader.h"

#include "bitmap/OutputFile.h"

namespace batch {

bool writeTextFile(const std::string& path, const std::string& text)
{
    try {
        auto file = bitmap::OutputFile::create(path);
        file->write(text.data(), text.size());
        file->finish();
        return true;
    } catch (const bitmap::EngineError&) {
        return false;
    }
}

}  // namespace batch
