// uart_debug's send text: any bytes as the -s argument, against a send buffer sized by the first byte so the
// room limit and the bad-piece report are both exercised.
#include <cstring>
#include <string>
#include <vector>

#include "tarn_uart_debug.h"

#define UART_DEBUG_CHECK(expression) ((expression) ? (void)0 : __builtin_trap())

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const size_t room = data[0] % 16;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::vector<uint8_t> bytes(room);
    const char *bad = nullptr;
    size_t badLength = 0;
    const int count = UartDebug_ParseBytes(text.c_str(), bytes.data(), room, &bad, &badLength);
    UART_DEBUG_CHECK(count >= -1 && count <= static_cast<int>(room));
    if (count < 0) {
        UART_DEBUG_CHECK(bad >= text.c_str() && bad + badLength <= text.c_str() + text.size());
        UART_DEBUG_CHECK(badLength > 0 && memchr(bad, ' ', badLength) == nullptr);
    }
    return 0;
}
