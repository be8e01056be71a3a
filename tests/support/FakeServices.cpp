#include "FakeServices.h"

namespace testing_support {

FakeServices::FakeServices()
{
    using window::Field;
    fields = {{Field::Edit1, "0"}, {Field::Edit2, "0"}, {Field::Edit3, "0"},
              {Field::Edit4, "0"}, {Field::Edit5, "255"}, {Field::Edit6, "255"}};
}

std::optional<std::string> FakeServices::chooseFile(window::FileDialog dialog, const window::FileDialogRequest& request)
{
    dialogsShown.push_back(dialog);
    dialogRequests.push_back(request);
    if (dialogAnswers.empty()) return std::nullopt;
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
}

void FakeServices::showMessage(const std::string& text)
{
    messages.push_back(text);
    positionAtMessage.push_back(progress.position());
    labelsAtMessage.push_back(labels);
}

}  // namespace testing_support
