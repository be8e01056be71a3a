#include "batch/BatchServices.h"

#include "bitmap/OperationSteps.h"

namespace batch {

BatchServices::BatchServices(std::string input, std::string output, std::map<bitmap::Field, std::string> fields,
                             MessageSink onMessage)
    : input_(std::move(input)), output_(std::move(output)), fields_(std::move(fields)), onMessage_(std::move(onMessage))
{
}

std::string BatchServices::label(bitmap::ResultLabel label) const
{
    const auto it = labels_.find(label);
    return it == labels_.end() ? std::string() : it->second;
}

std::optional<std::string> BatchServices::chooseFile(bitmap::FileDialog dialog, const bitmap::FileDialogRequest&)
{
    const std::string& answer = dialog == bitmap::FileDialog::Open ? input_ : output_;
    if (answer.empty()) return std::nullopt;
    return answer;
}

void BatchServices::showMessage(const std::string& text)
{
    if (text == bitmap::kDoneMessage) {
        completed_ = true;
        return;
    }
    reportedTrouble_ = true;
    if (onMessage_) onMessage_(text);
}

std::string BatchServices::fieldText(bitmap::Field field)
{
    const auto it = fields_.find(field);
    return it == fields_.end() ? std::string() : it->second;
}

void BatchServices::setResultLabel(bitmap::ResultLabel label, const std::string& text)
{
    labels_[label] = text;
}

void BatchServices::exitProcess(int status)
{
    throw FileAbandoned{status};
}

}  // namespace batch
