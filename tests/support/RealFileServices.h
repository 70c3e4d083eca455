#pragma once

#include "platform/files/PosixFileOperations.h"
#include "support/TestServices.h"

namespace orva::test {

// The test services with the real file operations, for tests on temporary folders. Only
// for tests that link the platform library.
struct RealFileServices : TestServices {
    PosixFileOperations posix;
    AppServices real{settings, scheduler, tasks, images,  screens,   watchers,
                     tags,     pointer,   posix, desktop, thumbnails};
};

} // namespace orva::test
