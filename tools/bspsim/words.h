// Splitting a command line into words, as a person types it: blanks separate words, single or
// double quotes keep blanks inside one word, and a '#' that begins a word starts a comment.
#ifndef BSP_TOOLS_BSPSIM_WORDS_H
#define BSP_TOOLS_BSPSIM_WORDS_H

#include <string>
#include <vector>

namespace bsp::shell {

// False (with the reason) for an unterminated quote.
bool split_words(const std::string &line, std::vector<std::string> *words, std::string *why);

}  // namespace bsp::shell

#endif
