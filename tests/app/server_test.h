// A test suite that shares one local test server; every test starts with the
// server's routes and request log reset, and is skipped when the server could
// not start.
#pragma once

#include <gtest/gtest.h>

#include "tests/http/test_server.h"

namespace pelmora::testing {

class ServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { s_server = new TestServer(); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  void SetUp() override {
    if (!s_server->ok()) {
      GTEST_SKIP() << "the local test server did not start";
    }
    s_server->Reset();
  }

  static inline TestServer* s_server = nullptr;
};

}  // namespace pelmora::testing
