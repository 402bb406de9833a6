#include "common/words.h"

namespace quorvane {

std::string JoinWords(const std::vector<std::string>& words, size_t from) {
  std::string out;
  for (size_t i = from; i < words.size(); ++i) {
    if (i > from) out += ' ';
    out += words[i];
  }
  return out;
}

}  // namespace quorvane
