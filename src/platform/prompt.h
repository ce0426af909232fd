#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace tess::platform {

enum class PromptButtons { OkCancel, RetryCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Retry, Yes, No };

// Stands in for the modal message boxes: every question is answered without a
// window. Pure information boxes become log lines through Inform.
class Prompt {
 public:
  virtual ~Prompt() = default;
  virtual PromptAnswer Ask(std::string_view Text, std::string_view Caption, PromptButtons Buttons) = 0;
  // A question whose Yes must not come from an answer given before anyone saw
  // what it is about (a folder to empty that holds files no run wrote): one who
  // sees it answers it as any other. Why says what is at stake.
  virtual PromptAnswer AskNotBlindly(std::string_view Text, std::string_view Caption, PromptButtons Buttons,
                                     std::string_view Why) {
    static_cast<void>(Why);
    return Ask(Text, Caption, Buttons);
  }
  virtual void Inform(std::string_view Text, std::string_view Caption) = 0;
};

// The command line's policy: --yes answers OK, Yes and Retry; the default
// answers Cancel and No, which deletes nothing. Retries are bounded so that a
// medium that keeps failing ends the read instead of looping for ever.
class PolicyPrompt : public Prompt {
 public:
  explicit PolicyPrompt(bool AnswerYes = false) : answerYes_(AnswerYes) {}

  // Where questions and their answers are written (the log).
  std::function<void(const std::string&)> OnLog;
  // Where a question and its answer are written with the question's caption,
  // which tells a warning or an error from a plain question; when unset, OnLog
  // takes them.
  std::function<void(const std::string& Line, std::string_view Caption)> OnAsk;
  // Where information boxes are written, with their caption, which tells an
  // error box from others; when unset, OnLog takes them as "Caption: Text".
  std::function<void(std::string_view Text, std::string_view Caption)> OnInform;
  int MaxRetriesInARow = 3;

  PromptAnswer Ask(std::string_view Text, std::string_view Caption, PromptButtons Buttons) override;
  // --yes gives no Yes here: the question is answered as without it, and Why
  // is written after it.
  PromptAnswer AskNotBlindly(std::string_view Text, std::string_view Caption, PromptButtons Buttons,
                             std::string_view Why) override;
  void Inform(std::string_view Text, std::string_view Caption) override;
  bool AnswerYes() const { return answerYes_; }
  void SetAnswerYes(bool v) { answerYes_ = v; }

 private:
  void Write(const std::string& Line, std::string_view Caption);
  bool answerYes_;
  int retriesInARow_ = 0;
};

}  // namespace tess::platform
