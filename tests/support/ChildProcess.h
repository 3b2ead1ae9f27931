// ChildProcess: runs a program of the project as a child, capturing its output, with a time limit.
#ifndef TESTS_SUPPORT_CHILDPROCESS_H
#define TESTS_SUPPORT_CHILDPROCESS_H

#include <chrono>
#include <string>
#include <vector>

struct ChildResult {
    int status = -1;        // exit status; -1 when the child was killed or did not exit
    bool timedOut = false;  // the limit ran out and the child was killed
    std::string out;        // everything written to standard output
    std::string err;        // everything written to standard error
};

// Runs argv[0] with the arguments argv[1...], standard input closed. Waits at most `limit`
// for the child to end; a child still running then is killed.
ChildResult RunChild(const std::vector<std::string>& argv,
                     std::chrono::milliseconds limit = std::chrono::seconds(30));

#endif
