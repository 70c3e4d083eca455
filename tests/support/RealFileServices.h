#pragma once

#include "platform/files/PosixFileOperations.h"
#include "support/TestServices.h"

namespace orva::test {

// The test services with the real file operations, for tests on temporary folders. Only
// for tests that link the platform library.
struct RealFileServices : ServicesWith<FakeImageService, FakeWatcherFactory, PosixFileOperations> {
    AppServices &real = services;
};

} // namespace orva::test
