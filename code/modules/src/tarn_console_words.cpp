#include "tarn_console_words.h"

#include <cstdlib>
#include <cstring>

#include "tarn_console.h"

int ConsoleWords::Split(const char *pArgument, size_t maxWords) {
    count_ = 0;
    if (maxWords > kWordsMax || strnlen(pArgument, kTextMax + 1) > kTextMax) {
        return -1;
    }
    strcpy(text_, pArgument);
    char *pRest = text_;
    size_t count = 0;
    while (pRest != nullptr) {
        char *pWord = strsep(&pRest, " ");
        if (count == maxWords) {
            return -1;
        }
        words_[count++] = pWord;
    }
    count_ = count;
    return 0;
}

const char *ConsoleWords::Word(size_t index) const {
    return index < count_ ? words_[index] : "";
}

unsigned long ConsoleWords::Number(size_t index) const {
    return Number(index, 0);
}

unsigned long ConsoleWords::Number(size_t index, int base) const {
    return strtoul(Word(index), nullptr, base);
}

bool ConsoleWords::Accept(const char *pArgument, size_t maxWords) {
    if (Split(pArgument, maxWords) != 0) {
        TARN_ERR("param invalid.\n");
        return false;
    }
    return true;
}

bool ConsoleWords::Meets(WordRule rule) const {
    bool met = false;
    switch (rule.kind) {
        case WordRule::Kind::Exactly:
            met = rule.value == 0 || count_ == rule.value;
            break;
        case WordRule::Kind::AtLeast:
            met = count_ >= rule.value;
            break;
        case WordRule::Kind::TextAt:
            met = Word(rule.value)[0] != '\0';
            break;
    }
    if (!met) {
        TARN_ERR("param invalid.\n");
    }
    return met;
}

void ConsoleWords::RefuseIndex(UnknownIndex unknown) const {
    if (unknown == UnknownIndex::Warn) {
        TARN_WARN("invalid cmd index: %d.\n", Index());
    }
}
