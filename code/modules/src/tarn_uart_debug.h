// uart_debug's send text: blank-separated numbers (0x hex, leading-0 octal, decimal) to bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Empty pieces are skipped; a value keeps its low 8 bits; at most room bytes are kept. Returns the byte
// count, or -1 with *pBad pointing at the first piece that is not a number (the text is left intact).
int UartDebug_ParseBytes(const char *text, uint8_t *bytes, size_t room, const char **pBad, size_t *pBadLength);
