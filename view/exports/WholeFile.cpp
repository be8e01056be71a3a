#include "view/exports/WholeFile.h"

#include "engine/OutputFile.h"

namespace view {

void writeWhole(const std::string& path, const QByteArray& bytes)
{
    auto file = engine::OutputFile::create(path);
    file->write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    file->finish();
}

}  // namespace view
