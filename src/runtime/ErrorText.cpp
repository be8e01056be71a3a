#include "runtime/ErrorText.h"

namespace runtime {

std::string errorBoxText(std::string_view message)
{
    std::string text(message);
    if (message.empty()) return text;

    const auto last = static_cast<unsigned char>(message.back());
    // A non-ASCII last character is a Japanese (double-byte or half-width kana)
    // character in the code page, whose lead byte is above 0x80 and so above ".".
    if (last > static_cast<unsigned char>('.')) text += '.';
    return text;
}

std::string applicationTitle(std::string_view programPath)
{
    std::string_view name = programPath;
    if (const auto slash = name.rfind('/'); slash != std::string_view::npos) name.remove_prefix(slash + 1);
    if (const auto dot = name.find('.'); dot != std::string_view::npos) name = name.substr(0, dot);

    std::string title(name);
    for (std::size_t i = 1; i < title.size(); ++i) {
        if (title[i] >= 'A' && title[i] <= 'Z') title[i] = static_cast<char>(title[i] - 'A' + 'a');
    }
    return title;
}

}  // namespace runtime
