#include "words.h"

#include <cctype>

namespace bsp::shell {

bool split_words(const std::string &line, std::vector<std::string> *words, std::string *why) {
    words->clear();
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (char ch : line) {
        if (quote != 0) {
            if (ch == quote) {
                quote = 0;
            } else {
                word += ch;
            }
        } else if (ch == '"' || ch == '\'') {
            quote = ch;
            in_word = true;
        } else if (std::isspace(static_cast<unsigned char>(ch))) {
            if (in_word) {
                words->push_back(word);
            }
            word.clear();
            in_word = false;
        } else if (ch == '#' && !in_word) {
            break;
        } else {
            word += ch;
            in_word = true;
        }
    }
    if (quote != 0) {
        *why = std::string("unterminated ") + quote + " quote";
        return false;
    }
    if (in_word) {
        words->push_back(word);
    }
    return true;
}

}  // namespace bsp::shell
