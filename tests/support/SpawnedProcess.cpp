// SpawnedProcess: fork and exec with two pipes, line reading and exit waits bounded by poll().
#include "tests/support/SpawnedProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

SpawnedProcess::SpawnedProcess(const std::vector<std::string>& argv)
{
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (pid_ > 0) {
        // Through syscall(): this C library's header declares pidfd_open without C linkage for C++.
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    }
}

SpawnedProcess::~SpawnedProcess()
{
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        wait(std::chrono::seconds(10));
    }
    for (const int fd : {pidfd_, input_, output_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::optional<std::string> SpawnedProcess::readLine(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const size_t end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (output_ < 0 || left.count() <= 0) {
            return std::nullopt;
        }
        pollfd ready{output_, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char chunk[1024];
        const ssize_t got = read(output_, chunk, sizeof chunk);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            close(output_);
            output_ = -1;
            return std::nullopt;
        }
        buffered_.append(chunk, static_cast<size_t>(got));
    }
}

bool SpawnedProcess::write(const std::string& text)
{
    size_t done = 0;
    while (input_ >= 0 && done < text.size()) {
        const ssize_t put = ::write(input_, text.data() + done, text.size() - done);
        if (put < 0 && errno != EINTR) {
            return false;
        }
        done += put > 0 ? static_cast<size_t>(put) : 0;
    }
    return input_ >= 0;
}

void SpawnedProcess::closeInput()
{
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
}

void SpawnedProcess::signal(int number)
{
    if (pid_ > 0 && !status_) {
        kill(pid_, number);
    }
}

std::optional<int> SpawnedProcess::wait(std::chrono::milliseconds limit)
{
    if (status_ || pid_ <= 0) {
        return status_;
    }
    pollfd ended{pidfd_, POLLIN, 0};
    if (pidfd_ >= 0 && poll(&ended, 1, static_cast<int>(limit.count())) <= 0) {
        return std::nullopt;
    }
    int raw = 0;
    if (waitpid(pid_, &raw, 0) != pid_) {
        return std::nullopt;
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status_;
}
