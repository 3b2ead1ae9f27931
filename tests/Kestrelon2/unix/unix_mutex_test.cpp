// Tests of the library's mutexes: names, exclusion between threads and the misuse they report.
#include "Kestrelon2/unix/unix_mutex.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

namespace {

// The thread sanitizer reports deliberate misuse of a mutex itself, before the mutex can refuse it.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif

// Runs an operation on another thread and hands back its result.
template <typename Operation>
aErr onOtherThread(Operation operation)
{
    return std::async(std::launch::async, operation).get();
}

TEST(AMutex, KeepsNamesUpTo255Characters)
{
    const std::string longest(aMUTEX_MAX_NAME, 'n');
    const std::string tooLong(aMUTEX_MAX_NAME + 1, 'n');
    const struct {
        const char* name;
        const char* identifier; // null: creation is refused
    } cases[] = {
        {"link table", "link table"},
        {nullptr, ""},
        {"", ""},
        {longest.c_str(), longest.c_str()},
        {tooLong.c_str(), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name != nullptr ? std::to_string(std::string(c.name).size()) + " characters" : "null name");
        aMutex* mutex = aMutex_Create(c.name);
        if (c.identifier == nullptr) {
            EXPECT_EQ(mutex, nullptr);
            continue;
        }
        ASSERT_NE(mutex, nullptr);
        EXPECT_STREQ(aMutex_Identifier(mutex), c.identifier);
        EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
        EXPECT_EQ(mutex, nullptr);
    }
    EXPECT_EQ(aMutex_Identifier(nullptr), nullptr);
}

TEST(AMutex, ExcludesOtherThreads)
{
    aMutex* mutex = aMutex_Create("counter");
    ASSERT_NE(mutex, nullptr);
    long counter = 0;
    auto add = [&] {
        for (int i = 0; i < 20000; ++i) {
            ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
            ++counter;
            ASSERT_EQ(aMutex_Unlock(mutex), aErrNone);
        }
    };
    std::thread first(add);
    std::thread second(add);
    first.join();
    second.join();
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
}

TEST(AMutex, TryLockIsBusyWhileAnyThreadHoldsIt)
{
    aMutex* mutex = aMutex_Create("try");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    EXPECT_EQ(onOtherThread([&] { return aMutex_TryLock(mutex); }), aErrBusy);
    EXPECT_EQ(aMutex_TryLock(mutex), aErrBusy) << "not recursive, not even for its owner";
    ASSERT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(onOtherThread([&] {
                  const aErr taken = aMutex_TryLock(mutex);
                  return taken == aErrNone ? aMutex_Unlock(mutex) : taken;
              }),
              aErrNone);
    EXPECT_EQ(aMutex_TryLock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
}

TEST(AMutex, RelockByItsOwnerIsADuplicateNotAHang)
{
    aMutex* mutex = aMutex_Create("relock");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Lock(mutex), aErrDuplicate);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(onOtherThread([&] {
                  const aErr taken = aMutex_TryLock(mutex);
                  return taken == aErrNone ? aMutex_Unlock(mutex) : taken;
              }),
              aErrNone)
        << "the refused second lock must not have been counted";
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
}

TEST(AMutex, UnlockByAnotherThreadIsRefused)
{
    if (kThreadSanitizer) {
        GTEST_SKIP() << "the thread sanitizer reports the deliberate wrong unlock";
    }
    aMutex* mutex = aMutex_Create("owner");
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrPermission) << "unlocked mutex";
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    EXPECT_EQ(onOtherThread([&] { return aMutex_Unlock(mutex); }), aErrPermission);
    EXPECT_EQ(onOtherThread([&] { return aMutex_TryLock(mutex); }), aErrBusy) << "still held by its owner";
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
}

TEST(AMutex, DestroyWhileLockedIsBusyAndKeepsTheMutex)
{
    if (kThreadSanitizer) {
        GTEST_SKIP() << "the thread sanitizer reports the deliberate destroy of a locked mutex";
    }
    aMutex* mutex = aMutex_Create("held");
    ASSERT_NE(mutex, nullptr);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrBusy);
    ASSERT_NE(mutex, nullptr) << "its owner still has to unlock it";
    EXPECT_STREQ(aMutex_Identifier(mutex), "held");
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
    EXPECT_EQ(mutex, nullptr);
}

TEST(AMutex, NullMutexesAreRefused)
{
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_TryLock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Unlock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Destroy(nullptr), aErrParam);
    aMutex* none = nullptr;
    EXPECT_EQ(aMutex_Destroy(&none), aErrParam);
}

} // namespace
