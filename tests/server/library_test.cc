// The handlers must be in force after every dbinit: FreeTDS's default error
// handler ends the process on an error raised without a connection, so each
// error provoked here would end this test binary if they were not.
#include <gtest/gtest.h>

#include "server/server.h"

namespace {

// Converting "abc" to an integer fails in DB-Library itself, with no
// connection involved.
void ProvokeLibraryError() {
  DBINT out = 0;
  EXPECT_EQ(dbconvert(nullptr, SYBCHAR, reinterpret_cast<const BYTE*>("abc"), 3, SYBINT4,
                      reinterpret_cast<BYTE*>(&out), sizeof out),
            -1);
}

TEST(Library, HandlersAreInstalledAfterEveryInitialisation) {
  for (int round = 0; round < 3; ++round) {
    // Another dbinit puts FreeTDS's default error handler back.
    if (round == 2) {
      ASSERT_EQ(dbinit(), SUCCEED);
    }
    ASSERT_TRUE(ktdb::EnsureLibrary());
    EXPECT_TRUE(ktdb::LibraryInitialised);
    // Installing a handler answers the one in force before.
    EXPECT_EQ(dberrhandle(ktdb::ErrorHandler), &ktdb::ErrorHandler);
    EXPECT_EQ(dbmsghandle(ktdb::MessageHandler), &ktdb::MessageHandler);

    ktdb::ResetErrors();
    const std::int32_t before = ktdb::ErrorCount;
    ProvokeLibraryError();
    EXPECT_EQ(ktdb::CapturedErrors.dbErr, SYBECSYN) << round;
    EXPECT_STRNE(ktdb::CapturedErrors.dbErrStr.data(), "");
    EXPECT_EQ(ktdb::ErrorCount, before + 1);
  }
}

}  // namespace
