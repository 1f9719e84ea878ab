// The answers of the settings files' questions ("Question ? [Y/N]: Y"), read
// one way by the kernel and the main window: an answer letter counts in
// either case in either of the two places after the colon, so " y", "Y" and
// "  N" are all answers.
#pragma once

#include <string_view>

namespace vx {

// The two characters right after the first occurrence of `question`, as far
// as the text reaches ('\0' past its end); false when the question is absent.
bool AnswerOf(std::string_view text, std::string_view question, char answer[2]);

// Whether either place holds `a` or `b`.
inline bool AnswerHas(const char answer[2], char a, char b) {
    return answer[0] == a || answer[0] == b || answer[1] == a || answer[1] == b;
}

enum class YesNo { On, Off, Unreadable };

// A Y/N question that is on when its `onLetter` ('Y' or 'N') answers it: the
// on letter wins when both stand there; absent or answered with neither
// letter, it is unreadable.
YesNo ReadYesNo(std::string_view text, std::string_view question, char onLetter);

}  // namespace vx
