#include "common/operator_message.h"

#include <iostream>
#include <utility>

namespace {

MessageResponder& CurrentResponder() {
    static MessageResponder responder;
    return responder;
}

}  // namespace

MessageAnswer ShowOperatorMessage(const OperatorMessage& message) {
    if (const MessageResponder& responder = CurrentResponder()) return responder(message);
    std::cerr << message.caption << ": " << message.text << '\n';
    return message.defaultButton;
}

void ShowWarning(const std::string& text) {
    ShowOperatorMessage(
        {text, "Предупреждение", MessageIcon::Warning, MessageButtons::Ok, MessageAnswer::Ok});
}

void ShowError(const std::string& text) {
    ShowOperatorMessage(
        {text, "Ошибка", MessageIcon::Error, MessageButtons::Ok, MessageAnswer::Ok});
}

void ShowInformation(const std::string& text, const std::string& caption) {
    ShowOperatorMessage(
        {text, caption, MessageIcon::Information, MessageButtons::Ok, MessageAnswer::Ok});
}

MessageResponder SetMessageResponder(MessageResponder responder) {
    return std::exchange(CurrentResponder(), std::move(responder));
}
