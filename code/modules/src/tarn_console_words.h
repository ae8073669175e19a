// The device consoles' small command language: an option argument such as '4 -10 0 10' split into words.
#pragma once

#include <cstddef>
#include <cstdint>

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
    // True when the entry's word count (index included) is met; 0 takes any count. Else "param invalid.".
    bool CountFits(size_t expected) const;
    // True when the entry's words are there (index included); words beyond them are ignored. Else
    // "param invalid.".
    bool CountAtLeast(size_t minimum) const;
    // True when the word is there and not empty (a trailing blank leaves an empty one). Else "param invalid.".
    bool HasText(size_t index) const;

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
