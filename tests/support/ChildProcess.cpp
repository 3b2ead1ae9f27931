// ChildProcess: fork, exec and a poll loop over the child's two output pipes.
#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace {

void _drain(int& fd, std::string& into)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n > 0) {
        into.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        close(fd);
        fd = -1;
    }
}

} // namespace

ChildResult RunChild(const std::vector<std::string>& argv, std::chrono::milliseconds limit)
{
    ChildResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        return result;
    }
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }

    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }

    int fds[2] = {outPipe[0], errPipe[0]};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (fds[0] >= 0 || fds[1] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            break;
        }
        pollfd polls[2] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}};
        if (poll(polls, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i] >= 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                _drain(fds[i], i == 0 ? result.out : result.err);
            }
        }
    }
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
    if (result.timedOut) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.timedOut && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}
