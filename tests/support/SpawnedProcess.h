// SpawnedProcess: a long-running child program of the project that a test talks to line by line over its standard input and output.
#ifndef TESTS_SUPPORT_SPAWNEDPROCESS_H
#define TESTS_SUPPORT_SPAWNEDPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Standard input and output are pipes to the test; standard error is the test's own, so the
// child's messages show up in the test log. A child still running at destruction is killed.
class SpawnedProcess {
public:
    explicit SpawnedProcess(const std::vector<std::string>& argv);
    ~SpawnedProcess();
    SpawnedProcess(const SpawnedProcess&) = delete;
    SpawnedProcess& operator=(const SpawnedProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line of standard output without its line feed; nothing when the output ends or
    // no whole line arrives within `limit`.
    std::optional<std::string> readLine(std::chrono::milliseconds limit);
    bool write(const std::string& text);
    void closeInput();
    void signal(int number);

    // The exit status once the child has ended, waiting at most `limit`; -1 for a child ended
    // by a signal; nothing while it still runs.
    std::optional<int> wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int pidfd_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string buffered_;
    std::optional<int> status_;
};

#endif
