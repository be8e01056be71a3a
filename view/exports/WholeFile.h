#pragma once
// A small file the viewer makes in memory, written whole.

#include <QByteArray>

#include <string>

namespace view {

// Throws EngineError naming path when it cannot be written.
void writeWhole(const std::string& path, const QByteArray& bytes);

}  // namespace view
