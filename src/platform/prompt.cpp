#include "platform/prompt.h"

namespace tess::platform {

static const char* AnswerText(PromptAnswer a) {
  switch (a) {
    case PromptAnswer::Ok: return "OK";
    case PromptAnswer::Cancel: return "Cancel";
    case PromptAnswer::Retry: return "Retry";
    case PromptAnswer::Yes: return "Yes";
    case PromptAnswer::No: return "No";
  }
  return "";
}

PromptAnswer PolicyPrompt::Ask(std::string_view Text, std::string_view Caption, PromptButtons Buttons) {
  PromptAnswer answer = PromptAnswer::Cancel;
  switch (Buttons) {
    case PromptButtons::OkCancel:
      answer = answerYes_ ? PromptAnswer::Ok : PromptAnswer::Cancel;
      retriesInARow_ = 0;
      break;
    case PromptButtons::YesNo:
      answer = answerYes_ ? PromptAnswer::Yes : PromptAnswer::No;
      retriesInARow_ = 0;
      break;
    case PromptButtons::RetryCancel:
      if (answerYes_ && retriesInARow_ < MaxRetriesInARow) {
        answer = PromptAnswer::Retry;
        ++retriesInARow_;
      } else {
        answer = PromptAnswer::Cancel;
        retriesInARow_ = 0;
      }
      break;
  }
  Write(std::string(Caption) + ": " + std::string(Text) + " -> " + AnswerText(answer), Caption);
  return answer;
}

PromptAnswer PolicyPrompt::AskNotBlindly(std::string_view Text, std::string_view Caption, PromptButtons Buttons,
                                         std::string_view Why) {
  if (!answerYes_) return Ask(Text, Caption, Buttons);
  answerYes_ = false;
  const PromptAnswer answer = Ask(Text, Caption, Buttons);
  answerYes_ = true;
  Write(std::string(Why), Caption);
  return answer;
}

void PolicyPrompt::Write(const std::string& Line, std::string_view Caption) {
  if (OnAsk)
    OnAsk(Line, Caption);
  else if (OnLog)
    OnLog(Line);
}

void PolicyPrompt::Inform(std::string_view Text, std::string_view Caption) {
  if (OnInform)
    OnInform(Text, Caption);
  else if (OnLog)
    OnLog(Caption.empty() ? std::string(Text) : std::string(Caption) + ": " + std::string(Text));
}

}  // namespace tess::platform
