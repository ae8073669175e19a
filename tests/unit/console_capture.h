// Captures standard output around the code under test, and spells the console lines it should print.
#pragma once

#include <string>

class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Everything written since construction, while the capture goes on (for output of other threads).
    std::string SoFar() const;
    // Restores standard output and returns everything written since construction.
    std::string Finish();

private:
    int savedStdout_ = -1;
    int captureFd_ = -1;
};

// Replaces each location triple "(file|function|line)" by "(@)", so lines compare exactly without line numbers.
std::string WithoutLocations(const std::string &text);

// Expected lines, with the location triple written as "(@)".
std::string ErrorLine(const std::string &body);
std::string WarnLine(const std::string &body);
std::string InfoLine(const std::string &body);
std::string SyserrLine(const std::string &call, const std::string &reason);
std::string AssertLine(const std::string &expression);
