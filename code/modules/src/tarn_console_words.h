// The device consoles' small command language: an option argument such as '4 -10 0 10' split into words.
#pragma once

#include <cstddef>
#include <cstdint>

// What a table entry asks of its words, index included.
struct WordRule {
    enum class Kind : uint8_t { Exactly, AtLeast, TextAt };
    Kind kind;
    size_t value;

    // The word count; 0 takes any count.
    static constexpr WordRule Exactly(size_t count) { return {Kind::Exactly, count}; }
    // The fewest words; words beyond them are ignored.
    static constexpr WordRule AtLeast(size_t count) { return {Kind::AtLeast, count}; }
    // The word must be there and not empty (a trailing blank leaves an empty one); others are ignored.
    static constexpr WordRule TextAt(size_t index) { return {Kind::TextAt, index}; }
    static constexpr WordRule Any() { return AtLeast(0); }
};

// What a console does with an index its table does not have.
enum class UnknownIndex : uint8_t { Warn, Ignore };

class ConsoleWords {
public:
    // The argument is copied into a 128-byte buffer.
    static constexpr size_t kTextMax = 127;
    // Room of the largest word list: seven words and the end marker.
    static constexpr size_t kWordsMax = 7;

    // Splits at every single blank (two blanks make an empty word, which counts). Returns -1 without keeping
    // anything when the text is longer than kTextMax or has more than maxWords words.
    int Split(const char *pArgument, size_t maxWords);

    size_t Count() const { return count_; }
    // The word, or "" past the list: nothing is read beyond it.
    const char *Word(size_t index) const;
    // strtoul in base 0 (decimal, 0x hexadecimal, 0 octal); negative texts wrap as strtoul makes them.
    unsigned long Number(size_t index) const;
    unsigned long Number(size_t index, int base) const;
    uint8_t U8(size_t index) const { return static_cast<uint8_t>(Number(index)); }
    uint16_t U16(size_t index) const { return static_cast<uint16_t>(Number(index)); }
    // The first word as a table index.
    int Index() const { return static_cast<int>(Number(0)); }

    // Split, or the console's error "param invalid." when the argument does not fit.
    bool Accept(const char *pArgument, size_t maxWords);
    // True when the words meet the entry's rule; else the console's error "param invalid.".
    bool Meets(WordRule rule) const;
    // "invalid cmd index: %d." with the first word's number, when the console warns.
    void RefuseIndex(UnknownIndex unknown) const;

private:
    char text_[kTextMax + 1] = {};
    char *words_[kWordsMax] = {};
    size_t count_ = 0;
};

// The console table's row with this index, or null.
template <typename Row, size_t kCount> const Row *ConsoleWords_FindRow(const Row (&rows)[kCount], int index) {
    for (const Row &row : rows) {
        if (row.index == index) {
            return &row;
        }
    }
    return nullptr;
}

// The one handler of a console's table option: split the argument into at most maxWords words, find the row
// of the first word, check the row's words (Row::Rule()), run it. Returns 0: a console goes on with its next
// option whatever one of them did.
template <typename Row, size_t kCount, typename Run>
int ConsoleWords_Handle(const char *pArgument, size_t maxWords, const Row (&rows)[kCount], UnknownIndex unknown,
                        Run run) {
    ConsoleWords words;
    if (!words.Accept(pArgument, maxWords)) {
        return 0;
    }
    const Row *pRow = ConsoleWords_FindRow(rows, words.Index());
    if (pRow == nullptr) {
        words.RefuseIndex(unknown);
        return 0;
    }
    if (words.Meets(pRow->Rule())) {
        run(*pRow, words);
    }
    return 0;
}

// The same for tables whose rows carry their own action, `void run(const ConsoleWords &)`.
template <typename Row, size_t kCount>
int ConsoleWords_Handle(const char *pArgument, size_t maxWords, const Row (&rows)[kCount], UnknownIndex unknown) {
    return ConsoleWords_Handle(pArgument, maxWords, rows, unknown,
                               [](const Row &row, const ConsoleWords &words) { row.run(words); });
}
