#include "front/backend_factory.h"

#include <gtest/gtest.h>

#include "front/shared_routines.h"
#include "tests/support/test_world.h"

namespace {

// Records which family each request asked for; builds nothing.
class FamilyRecorder final : public BackendMakerForTesting {
 public:
  std::unique_ptr<CBasePump> NewPump(BackendFamily f) override {
    families.push_back(f);
    return nullptr;
  }
  std::unique_ptr<CBaseSamp> NewSampler(BackendFamily f) override {
    families.push_back(f);
    return nullptr;
  }
  std::unique_ptr<CBaseUV> NewUV(BackendFamily f) override {
    families.push_back(f);
    return nullptr;
  }
  std::vector<BackendFamily> families;
};

class BackendFactoryTest : public testing_support::TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    SetBackendMakerForTesting(&recorder);
  }
  void TearDown() override {
    SetBackendMakerForTesting(nullptr);
    TestWorld::TearDown();
  }
  FamilyRecorder recorder;
};

TEST_F(BackendFactoryTest, MissingFlagChoosesDirectAndLeavesZeroWritten) {
  CreatePumpBackend();
  EXPECT_EQ(recorder.families, std::vector<BackendFamily>{BackendFamily::kDirect});
  EXPECT_EQ(ReadNetBoxCommsFlag(), 0);
}

TEST_F(BackendFactoryTest, AnyNonZeroFlagChoosesTheServer) {
  for (int flag : {1, 7, -1}) {
    WriteNetBoxCommsFlag(flag);
    CreatePumpBackend();
    CreateSamplerBackend();
    CreateUVBackend();
  }
  EXPECT_EQ(recorder.families, std::vector<BackendFamily>(9, BackendFamily::kServer));
}

TEST_F(BackendFactoryTest, FlagChangeAffectsOnlyLaterCreations) {
  CreateUVBackend();
  WriteNetBoxCommsFlag(1);
  CreateUVBackend();
  EXPECT_EQ(recorder.families, (std::vector<BackendFamily>{BackendFamily::kDirect, BackendFamily::kServer}));
}

}  // namespace
