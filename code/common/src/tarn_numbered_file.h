// Numbered log files ("<word>_NNNN"): the next number after the largest one already in a directory.
#pragma once

#include <cstddef>

// Lists dir; for each entry whose name contains marker, takes the name's first nameChars characters, replaces
// the first '_' by a blank and reads a word and a four-digit number (every digit with wholeNumber, so that a
// recorder past 9999 goes on counting instead of starting again at 1000). Returns the largest number plus 1:
// 1 when no entry matches or the directory cannot be listed (the caller's open then reports what is wrong).
int NumberedFile_Next(const char *dir, const char *marker, size_t nameChars, bool wholeNumber = false);
