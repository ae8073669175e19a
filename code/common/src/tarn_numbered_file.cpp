#include "tarn_numbered_file.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>

namespace {

// Up to 255 characters of a name, as the recorders' numbering reads them.
constexpr size_t kNameMax = 256;

class DirectoryHolder {
public:
    explicit DirectoryHolder(const char *path) : directory_(opendir(path)) {}
    ~DirectoryHolder() {
        if (directory_ != nullptr) {
            closedir(directory_);
        }
    }
    DirectoryHolder(const DirectoryHolder &) = delete;
    DirectoryHolder &operator=(const DirectoryHolder &) = delete;

    DIR *Get() const { return directory_; }

private:
    DIR *directory_;
};

} // namespace

int NumberedFile_Next(const char *dir, const char *marker, size_t nameChars, bool wholeNumber) {
    DirectoryHolder directory(dir);
    if (directory.Get() == nullptr) {
        return 1;
    }
    if (nameChars >= kNameMax) {
        nameChars = kNameMax - 1;
    }
    int largest = 0;
    while (const dirent *pEntry = readdir(directory.Get())) {
        if (strstr(pEntry->d_name, marker) == nullptr) {
            continue;
        }
        char name[kNameMax] = {};
        memcpy(name, pEntry->d_name, strnlen(pEntry->d_name, nameChars));
        if (char *pUnderscore = strchr(name, '_')) {
            *pUnderscore = ' ';
        }
        char word[kNameMax] = {};
        int number = 0;
        if (sscanf(name, wholeNumber ? "%255s %9d" : "%255s %04d", word, &number) == 2 && number > largest) {
            largest = number;
        }
    }
    return largest + 1;
}
