#include <gtest/gtest.h>
#include <openssl/provider.h>

#include <QRadioButton>

#include "codec_test_util.h"

// Once a provider is loaded on purpose, the library loads no default one: with only the null
// provider there is no MD5, as under a policy that forbids it. Loaded before any digest is made.
class NoMd5Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    provider_ = OSSL_PROVIDER_load(nullptr, "null");
    ASSERT_NE(provider_, nullptr);
  }
  void TearDown() override { OSSL_PROVIDER_unload(provider_); }

 private:
  OSSL_PROVIDER* provider_ = nullptr;
};
const auto* const g_noMd5 = ::testing::AddGlobalTestEnvironment(new NoMd5Environment);

using Md5UnavailableTest = CodecPaneFixture;

TEST_F(Md5UnavailableTest, HashingSaysSoAndLeavesThePane) {
  md5Mode();
  setText("abc");
  click(kEncodeButtonId);
  EXPECT_EQ(text(), "abc");
  EXPECT_EQ(ComputeMd5Hex("abc", 3), nullptr);
  EXPECT_EQ(boxes.texts(), std::vector<std::string>(2, "Failed To Create Hash Object!"));
  // Base64 does not need the digest.
  click(kBase64RadioId);
  click(kEncodeButtonId);
  EXPECT_EQ(text(), "YWJj\r\n");
}
