#ifndef QUORVANE_COMMON_WORDS_H_
#define QUORVANE_COMMON_WORDS_H_

#include <string>
#include <vector>

namespace quorvane {

// words[from..] joined by single blanks; an empty word leaves two blanks.
std::string JoinWords(const std::vector<std::string>& words, size_t from = 0);

}  // namespace quorvane

#endif  // QUORVANE_COMMON_WORDS_H_
