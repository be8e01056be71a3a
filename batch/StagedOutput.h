#pragma once
// An output written under a temporary name in its own folder and put under its final
// name only once its whole file has succeeded, so that a failed file leaves the old
// output (or nothing) where it was, never a partial or empty file.

#include <span>
#include <string>

namespace batch {

class StagedOutput {
public:
    // Creates an empty temporary file beside finalPath, hidden (its name starts with a
    // dot) and unique. Throws engine::EngineError(CannotCreateOutput, finalPath).
    explicit StagedOutput(std::string finalPath);
    // Removes the temporary file unless it was put in place.
    ~StagedOutput();
    StagedOutput(const StagedOutput&) = delete;
    StagedOutput& operator=(const StagedOutput&) = delete;

    // Where to write.
    const std::string& path() const noexcept { return temporary_; }
    const std::string& finalPath() const noexcept { return final_; }

private:
    friend void putInPlace(std::span<StagedOutput* const> outputs);
    std::string final_;
    std::string temporary_;
    bool placed_ = false;
};

// Renames every output over its final name. A folder under a final name, which no
// rename replaces, is found before anything is renamed. Throws
// engine::EngineError(CannotCreateOutput, finalPath) for the output that could not
// be put in place.
void putInPlace(std::span<StagedOutput* const> outputs);

}  // namespace batch
