#include "tarn_firmware_file.h"

#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "tarn_unique_fd.h"

int Firmware_GetSize(const char *path, uint32_t *size) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        return -1;
    }
    // The protocols carry sizes in 32 bits; all ones is the callers' failure value.
    if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) >= UINT32_MAX) {
        errno = EFBIG;
        return -1;
    }
    *size = static_cast<uint32_t>(status.st_size);
    return 0;
}

uint64_t Firmware_PaddedLength(uint32_t size, uint32_t blockLength) {
    if (blockLength == 0) {
        return size;
    }
    return (static_cast<uint64_t>(size) / blockLength + 1) * blockLength;
}

FirmwareLoad Firmware_Load(const char *path, uint32_t size, uint32_t blockLength, uint8_t fill, FirmwareImage *image) {
    if (size == 0) {
        return {FirmwareStatus::Empty, 0, 0};
    }
    UniqueFd file(open(path, O_RDONLY));
    if (!file.IsOpen()) {
        return {FirmwareStatus::OpenFailed, errno, 0};
    }
    const uint64_t length = Firmware_PaddedLength(size, blockLength);
    std::unique_ptr<uint8_t[]> bytes(length <= UINT32_MAX ? new (std::nothrow) uint8_t[length] : nullptr);
    if (bytes == nullptr) {
        return {FirmwareStatus::NoMemory, ENOMEM, 0};
    }
    memset(bytes.get(), fill, length);
    const ssize_t got = read(file.Get(), bytes.get(), size);
    if (got < 0) {
        return {FirmwareStatus::ReadFailed, errno, 0};
    }
    if (static_cast<uint64_t>(got) != size) {
        return {FirmwareStatus::ShortRead, 0, static_cast<long>(got)};
    }
    image->bytes = std::move(bytes);
    image->size = size;
    image->length = static_cast<uint32_t>(length);
    return {FirmwareStatus::Ok, 0, 0};
}
