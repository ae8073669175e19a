// Drives the Flash module (and Uenv's Get, which no tool of its own calls) in a process of its own, so the integration
// tests can run it in a sandbox with the fake MTD driver preloaded. Each argument is one operation; each prints
// "<operation> = <result>" after whatever the module printed:
//   read:OFF:SIZE   write:OFF:SIZE:BYTE   erase:OFF:SIZE   bad:OFF:SIZE   find:OFF:SIZE   exact:START:SIZE
//   twice (two handles are one object, one delete keeps the other)   get:NAME:SIZE (Uenv Get into SIZE bytes)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tarn_flash.h"
#include "tarn_uenv.h"

namespace {

uint32_t Field(char *&cursor) {
    char *end = nullptr;
    const uint32_t value = static_cast<uint32_t>(strtoul(cursor, &end, 0));
    cursor = *end == ':' ? end + 1 : end;
    return value;
}

} // namespace

int main(int argc, char *argv[]) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Flash *flash = nullptr;
    Flash_Create(&flash);
    for (int index = 1; index < argc; ++index) {
        char *cursor = strchr(argv[index], ':');
        const std::string operation(argv[index], cursor != nullptr ? static_cast<size_t>(cursor - argv[index])
                                                                   : strlen(argv[index]));
        cursor = cursor != nullptr ? cursor + 1 : argv[index] + strlen(argv[index]);
        char *const arguments = cursor;
        const uint32_t first = Field(cursor);
        const uint32_t second = Field(cursor);
        int result = 0;
        if (operation == "read") {
            std::vector<uint8_t> bytes(second);
            result = flash->Read(bytes.data(), first, second);
            if (result == 0 && second > 0) {
                printf("first byte 0x%02x\n", bytes[0]);
            }
        } else if (operation == "write") {
            const std::vector<uint8_t> bytes(second, static_cast<uint8_t>(Field(cursor)));
            result = flash->Write(bytes.data(), first, second);
        } else if (operation == "erase") {
            result = flash->Erase(first, second);
        } else if (operation == "bad") {
            result = flash->CheckBad(first, second);
        } else if (operation == "find") {
            FlashPart part{};
            result = flash->FindPart(first, second, &part);
            if (result == 0) {
                printf("mtd%d 0x%x-0x%x\n", part.mtd, part.start, part.end);
            }
        } else if (operation == "exact") {
            result = flash->ExactPart(first, second);
        } else if (operation == "get") {
            char *colon = strrchr(arguments, ':');
            const std::string name(arguments,
                                   colon != nullptr ? static_cast<size_t>(colon - arguments) : strlen(arguments));
            std::vector<char> value(colon != nullptr ? strtoul(colon + 1, nullptr, 0) : 0, '#');
            Uenv *uenv = nullptr;
            Uenv_Create(&uenv);
            result = uenv->Get(name.c_str(), value.data(), value.size());
            Uenv_Delete(&uenv);
            if (result == 0) {
                printf("value '%s'\n", value.data());
            }
        } else if (operation == "twice") {
            Flash *other = nullptr;
            Flash_Create(&other);
            result = other == flash ? 0 : -1;
            Flash_Delete(&other);
            result = result == 0 && other == nullptr ? 0 : -1;
        } else {
            printf("unknown operation %s\n", operation.c_str());
            return 2;
        }
        printf("%s = %d\n", argv[index], result);
    }
    Flash_Delete(&flash);
    return 0;
}
