// Records every operator message while it lives and answers with scripted answers (Ok, or the
// default button, when the script has run out).
#pragma once

#include <deque>
#include <vector>

#include "common/operator_message.h"

class MessageRecorder {
  public:
    MessageRecorder()
        : previous_(SetMessageResponder([this](const OperatorMessage& m) {
              messages.push_back(m);
              if (answers.empty()) return m.defaultButton;
              MessageAnswer a = answers.front();
              answers.pop_front();
              return a;
          })) {}
    ~MessageRecorder() { SetMessageResponder(previous_); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<OperatorMessage> messages;
    std::deque<MessageAnswer> answers;

  private:
    MessageResponder previous_;
};
