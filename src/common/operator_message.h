// Every message box of the tool goes through ShowOperatorMessage. The windows install a
// responder that shows a modal box without an owner window; tests install one that records
// the messages and gives scripted answers.
#pragma once

#include <functional>
#include <string>

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo, YesNoCancel, RetryCancel };
enum class MessageAnswer { Ok, Yes, No, Cancel, Retry };

// The program's title: the main window's caption, and the caption of the boxes that have none
// of their own (the input error, an exception's text).
inline constexpr const char* kProgramTitle = "Сервисная программа ВЭК";

struct OperatorMessage {
    std::string text;  // UTF-8
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    MessageAnswer defaultButton = MessageAnswer::Ok;
};

using MessageResponder = std::function<MessageAnswer(const OperatorMessage&)>;

// Shows a message and returns the operator's answer. Without a responder the message goes
// to the standard error stream and the default button is the answer.
MessageAnswer ShowOperatorMessage(const OperatorMessage& message);

// A warning with the caption "Предупреждение" and an OK button.
void ShowWarning(const std::string& text);
// An error with the caption "Ошибка" and an OK button.
void ShowError(const std::string& text);
// An information box with its caption and an OK button.
void ShowInformation(const std::string& text, const std::string& caption);

// Installs a responder (an empty one restores the default) and returns the previous one.
MessageResponder SetMessageResponder(MessageResponder responder);
