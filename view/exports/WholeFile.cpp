#include "view/exports/WholeFile.h"

#include "engine/output/OutputPath.h"

#include <cstdint>
#include <span>

namespace view {

void writeWhole(const std::string& path, const QByteArray& bytes)
{
    engine::writeWholeFile(path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                           static_cast<std::size_t>(bytes.size())));
}

}  // namespace view
