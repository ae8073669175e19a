// A retry loop that fails the same way every turn must not flood the console: each of its lines is printed the
// first time it is due, then not again until something has changed (a read or write worked, another card).
// One owner thread per set.
#pragma once

namespace tarn {

class OnceLines {
public:
    // True the first time the line (one bit of the caller's own enumeration) is due since it was last reset.
    bool First(unsigned line) {
        const bool first = (shown_ & line) == 0;
        shown_ |= line;
        return first;
    }
    // The line is news again.
    void Reset(unsigned line) { shown_ &= ~line; }
    // Every line is news again.
    void ResetAll() { shown_ = 0; }

private:
    unsigned shown_ = 0;
};

} // namespace tarn
