#include "answers.h"

namespace vx {

bool AnswerOf(std::string_view text, std::string_view question, char answer[2]) {
    size_t at = text.find(question);
    if (at == std::string_view::npos) return false;
    size_t after = at + question.size();
    answer[0] = after < text.size() ? text[after] : '\0';
    answer[1] = after + 1 < text.size() ? text[after + 1] : '\0';
    return true;
}

YesNo ReadYesNo(std::string_view text, std::string_view question, char onLetter) {
    char a[2];
    if (!AnswerOf(text, question, a)) return YesNo::Unreadable;
    char offLetter = onLetter == 'Y' ? 'N' : 'Y';
    auto lower = [](char c) { return static_cast<char>(c - 'A' + 'a'); };
    if (AnswerHas(a, onLetter, lower(onLetter))) return YesNo::On;
    if (AnswerHas(a, offLetter, lower(offLetter))) return YesNo::Off;
    return YesNo::Unreadable;
}

}  // namespace vx
