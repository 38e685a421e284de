// The writer reads picture files and addresses through the program's reader, as in the program.
#include <gtest/gtest.h>

#include "app/engine/PictureFiles.h"

namespace {

class TPictureFilesInstalled : public ::testing::Environment {
public:
    void SetUp() override { InstallPictureFiles(); }
};

const auto* const installed = ::testing::AddGlobalTestEnvironment(new TPictureFilesInstalled);

}  // namespace
