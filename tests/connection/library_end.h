// Ends the library once every test of the executable has run, as an application does before it
// exits: the monitor thread and the naming client's thread stop before static destruction starts.
#pragma once

#include <gtest/gtest.h>

#include "ostrel/api/ostrel.h"

namespace testing_support {

class LibraryEnd : public ::testing::Environment {
 public:
  void TearDown() override { Ostrel::ExitOstrel(); }
};

inline ::testing::Environment* const libraryEnd =
    ::testing::AddGlobalTestEnvironment(new LibraryEnd);

}  // namespace testing_support
