// The owned-handle template over every handle kind: the empty value of each,
// and the thread's last error kept when a close in reset or a move fails.
#include <gtest/gtest.h>

#include <string>

#include "common/UniqueHandle.h"

namespace {

// A handle whose close fails and sets its own last error, as a close of a
// handle already gone would.
struct FailingClose {
    using pointer = int;
    static pointer invalid() noexcept { return -1; }
    static void close(pointer) noexcept { ::SetLastError(ERROR_INVALID_HANDLE); }
};

template <typename Traits, typename Traits::pointer (*Empty)()>
struct Kind {
    using Owner = kv::unique_any<Traits>;
    static typename Traits::pointer empty() { return Empty(); }
};
HANDLE NullHandle() { return nullptr; }
HANDLE InvalidHandle() { return INVALID_HANDLE_VALUE; }
HKEY NullKey() { return nullptr; }
HLOCAL NullLocal() { return nullptr; }
int MinusOne() { return -1; }

using Kinds = ::testing::Types<Kind<kv::traits::Handle, NullHandle>, Kind<kv::traits::FileHandle, InvalidHandle>,
                               Kind<kv::traits::RegKey, NullKey>, Kind<kv::traits::LocalMemory, NullLocal>,
                               Kind<kv::traits::MutexRelease, NullHandle>, Kind<FailingClose, MinusOne>>;

struct KindName {
    template <typename T>
    static std::string GetName(int index) {
        static const char* const kNames[] = {"Handle", "FileHandle", "RegKey", "LocalMemory", "MutexRelease",
                                             "FailingClose"};
        return kNames[index];
    }
};

template <typename T>
class UniqueHandleKinds : public ::testing::Test {};
TYPED_TEST_SUITE(UniqueHandleKinds, Kinds, KindName);

TYPED_TEST(UniqueHandleKinds, StartsEmptyAndReleasesTheEmptyValue) {
    typename TypeParam::Owner owner;
    EXPECT_FALSE(owner);
    EXPECT_EQ(owner.get(), TypeParam::empty());
    EXPECT_EQ(*owner.put(), TypeParam::empty());
    EXPECT_EQ(owner.release(), TypeParam::empty());
}

TEST(UniqueHandle, ResetAndMoveKeepTheLastErrorWhenTheCloseFails) {
    using Owner = kv::unique_any<FailingClose>;
    Owner reset(1);
    ::SetLastError(ERROR_ACCESS_DENIED);
    reset.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(reset);

    Owner target(2);
    Owner source(3);
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    target = std::move(source);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(target.get(), 3);
    EXPECT_FALSE(source);

    Owner moved(std::move(target));
    EXPECT_EQ(moved.get(), 3);
    EXPECT_FALSE(target);
}

}  // namespace
