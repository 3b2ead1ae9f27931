// ScopedLimit: a resource limit lowered for one scope, so tests can make the file system refuse.
#ifndef TESTS_SUPPORT_SCOPEDLIMIT_H
#define TESTS_SUPPORT_SCOPEDLIMIT_H

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

// Lowers a limit the way a full disk or a process out of file handles makes the file system
// refuse. Writing past the file size limit raises SIGXFSZ, which would end the test instead of
// failing the write, so it is ignored meanwhile.
class ScopedLimit {
public:
    ScopedLimit(int resource, rlim_t soft) : resource(resource)
    {
        getrlimit(resource, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = soft;
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        applied = setrlimit(resource, &lowered) == 0;
    }
    ~ScopedLimit()
    {
        setrlimit(resource, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    ScopedLimit(const ScopedLimit&) = delete;
    ScopedLimit& operator=(const ScopedLimit&) = delete;

    bool applied = false;

private:
    int resource;
    rlimit saved{};
    void (*previousHandler)(int);
};

// The lowest free descriptor: a limit of that many handles lets no further file be opened.
inline rlim_t openHandleCount()
{
    const int probe = open("/dev/null", O_RDONLY);
    close(probe);
    return static_cast<rlim_t>(probe);
}

#endif
