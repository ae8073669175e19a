// Serial ports /dev/ttyS<n> in raw 8N1 at 4800, 9600, 19200 or 115200 baud, as handle objects.
#pragma once

#include <cstdint>

struct UartParam {
    int32_t port; // n of /dev/ttyS<n>
    int32_t baudrate;
};

struct UartPrivate;

// No lock: one thread reads while another writes, and two threads never read (or write) at once.
struct Uart {
    UartPrivate *pPrivate;
    // Reads exactly len bytes, however long they take; returns len, or -1.
    int (*Read)(Uart *pUart, void *buf, uint32_t len);
    // Waits at most timeout milliseconds, then returns what one read delivered (1..len), 0 when nothing came.
    int (*ReadTimeout)(Uart *pUart, void *buf, uint32_t len, uint32_t timeout);
    // Writes every byte; returns len, or -1.
    int (*Write)(Uart *pUart, const void *buf, uint32_t len);
};

int Uart_Create(Uart **ppUart, const UartParam *pParam);
void Uart_Delete(Uart **ppUart);

int Uart_Read(Uart *pUart, void *buf, uint32_t len);
int Uart_ReadTimeout(Uart *pUart, void *buf, uint32_t len, uint32_t timeout);
int Uart_Write(Uart *pUart, const void *buf, uint32_t len);
