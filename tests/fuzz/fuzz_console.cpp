// The consoles' arguments: the word splitter, and every option of xtb_debug and lens_debug run on an operations
// table whose entries only note what they were given. The input's first byte picks the tool and the option (and
// the splitter's word limit); the rest, up to its first zero byte, is the option's argument.
//
// The splitter's words joined by blanks give back the argument, and too long a text or too many words is
// refused. An option calls at most one operation; a refused argument calls none and says "param invalid.";
// numbers reach the operation from the words in their order; an upgrade gets the path word whole. Operations
// that fill a caller's buffer fill all the room they are given, so a buffer smaller than it claims is caught.
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "tarn_console_words.h"
#include "tarn_lens.h"
#include "tarn_lens_debug.h"
#include "tarn_xtb.h"
#include "tarn_xtb_debug.h"

namespace {

struct Value {
    long long value;
    size_t width;
    bool isSigned;
};

// What the operations were given since the option began.
struct Calls {
    int count = 0;
    std::vector<Value> values;
    std::string text;
    bool hasText = false;
};

Calls gCalls;

template <typename T> void Note(T argument) {
    if constexpr (std::is_same_v<T, const char *>) {
        gCalls.text = argument;
        gCalls.hasText = true;
    } else if constexpr (std::is_pointer_v<T>) {
        // A result: the operation succeeds with a value the handler then prints.
        *argument = static_cast<std::remove_pointer_t<T>>(0x5A);
    } else {
        gCalls.values.push_back({static_cast<long long>(argument), sizeof(T), std::is_signed_v<T>});
    }
}

template <typename... Arguments> int32_t Operation(Arguments... arguments) {
    ++gCalls.count;
    (Note(arguments), ...);
    return 0;
}

// The lens's text and flash replies: the whole room given is filled, as with a long reply.
template <> int32_t Operation<uint8_t *, size_t>(uint8_t *pBuffer, size_t size) {
    ++gCalls.count;
    memset(pBuffer, 'v', size);
    return static_cast<int32_t>(size);
}

template <> int32_t Operation<uint16_t, uint8_t *, size_t>(uint16_t address, uint8_t *pBuffer, size_t size) {
    Note(address);
    return Operation(pBuffer, size);
}

// Converts to any operation's pointer type: one recording function per signature.
struct AnyOperation {
    template <typename Result, typename... Arguments> using Pointer = Result (*)(Arguments...);
    template <typename Result, typename... Arguments> operator Pointer<Result, Arguments...>() const {
        return &Operation<Arguments...>;
    }
};

template <typename Table, size_t... kSlots> Table RecordingTable(std::index_sequence<kSlots...>) {
    return Table{((void)kSlots, AnyOperation{})...};
}

XtbOps gXtbOps = RecordingTable<XtbOps>(std::make_index_sequence<kXtbOpsSlots>{});
LensOps gLensOps = RecordingTable<LensOps>(std::make_index_sequence<kLensOpsSlots>{});

// The argument's words, split here on every blank without the product's splitter.
std::vector<std::string> WordsOf(const std::string &text) {
    std::vector<std::string> words(1);
    for (char character : text) {
        if (character == ' ') {
            words.emplace_back();
        } else {
            words.back() += character;
        }
    }
    return words;
}

void CheckSplitter(const std::string &text, size_t maxWords) {
    const std::vector<std::string> expected = WordsOf(text);
    ConsoleWords words;
    const int result = words.Split(text.c_str(), maxWords);
    const bool fits =
        maxWords <= ConsoleWords::kWordsMax && text.size() <= ConsoleWords::kTextMax && expected.size() <= maxWords;
    FUZZ_CHECK((result == 0) == fits);
    if (!fits) {
        FUZZ_CHECK(words.Count() == 0 && words.Word(0)[0] == '\0');
        return;
    }
    FUZZ_CHECK(words.Count() == expected.size());
    for (size_t index = 0; index < expected.size(); ++index) {
        FUZZ_CHECK(expected[index] == words.Word(index));
    }
    FUZZ_CHECK(words.Word(expected.size())[0] == '\0');
}

// The number a handler may have made of a word: strtoul in base 0 or 16, strtol, atoi; cut to the width.
bool CameFrom(const Value &value, const std::string &word) {
    const unsigned long long mask = value.width >= 8 ? ~0ULL : (1ULL << (8 * value.width)) - 1;
    const unsigned long long readings[] = {
        strtoul(word.c_str(), nullptr, 0),
        strtoul(word.c_str(), nullptr, 16),
        static_cast<unsigned long long>(strtol(word.c_str(), nullptr, 0)),
        static_cast<unsigned long long>(static_cast<long long>(atoi(word.c_str()))),
    };
    const unsigned long long given = static_cast<unsigned long long>(value.value) & mask;
    for (unsigned long long reading : readings) {
        if ((reading & mask) == given) {
            return true;
        }
    }
    return false;
}

// Entries that watch reports or record the log for ever: the tool is stopped from outside.
bool NeverReturns(bool xtb, char option, const std::vector<std::string> &words) {
    const int index = static_cast<int>(strtoul(words[0].c_str(), nullptr, 0));
    return xtb && option == 'g' && ((index >= 58 && index <= 61) || index == 64);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::CatchConsole();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::ClearConsole();
    fuzz::Input input(data, size);
    const uint8_t shape = input.Byte();
    const std::string text(reinterpret_cast<const char *>(input.Rest()),
                           strnlen(reinterpret_cast<const char *>(input.Rest()), input.Left()));

    CheckSplitter(text, shape >> 4);

    const bool xtb = (shape & 1) != 0;
    constexpr char kXtbOptions[] = {'l', 's', 'g', 'p', 'v', 'u', 'x'};
    constexpr char kLensOptions[] = {'l', 's', 'g', 'u', 'h', 'x'};
    const char option =
        xtb ? kXtbOptions[(shape >> 1) % sizeof(kXtbOptions)] : kLensOptions[(shape >> 1) % sizeof(kLensOptions)];
    const std::vector<std::string> words = WordsOf(text);
    if (NeverReturns(xtb, option, words)) {
        return 0;
    }

    gCalls = Calls{};
    if (xtb) {
        XtbDebug_RunOption(&gXtbOps, option, text.c_str());
    } else {
        LensDebug_RunOption(&gLensOps, option, text.c_str());
    }

    FUZZ_CHECK(gCalls.count <= 1);
    if (option == 'l') {
        FUZZ_CHECK(gCalls.count == 1);
        return 0;
    }
    if (option == 'u' && !xtb) {
        // The lens takes its whole argument as the path.
        FUZZ_CHECK(gCalls.count == 1 && gCalls.hasText && gCalls.text == text);
        return 0;
    }
    if (option == 'h' || option == 'x') {
        FUZZ_CHECK(gCalls.count == 0);
        return 0;
    }

    const size_t maxWords = option == 's' ? 7 : 5;
    if (text.size() > ConsoleWords::kTextMax || words.size() > maxWords) {
        FUZZ_CHECK(gCalls.count == 0 && fuzz::ConsoleHas("param invalid."));
        return 0;
    }
    if (option == 'u') {
        FUZZ_CHECK(gCalls.hasText == (gCalls.count == 1));
        if (gCalls.hasText) {
            FUZZ_CHECK(words.size() >= 2 && !words[1].empty() && gCalls.text == words[1]);
        }
        return 0;
    }
    FUZZ_CHECK(!gCalls.hasText);
    FUZZ_CHECK(gCalls.values.size() < words.size() || gCalls.values.empty());
    for (size_t index = 0; index < gCalls.values.size(); ++index) {
        FUZZ_CHECK(CameFrom(gCalls.values[index], words[index + 1]));
    }
    return 0;
}
