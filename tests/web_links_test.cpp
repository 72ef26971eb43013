// Web addresses of the suggestions link and the social buttons: which are accepted, and what
// the result screen's presenter does with and without them.
#include "results/web_links.h"

#include <gtest/gtest.h>

#include "events/notification_center.h"
#include "results/result_view_controller.h"
#include "tests/fixtures/fake_result_view.h"

namespace tamsel {
namespace {

TEST(WebLinks, OnlyHttpAndHttpsAddressesWithAHostAreAccepted) {
  const struct {
    const char* value;
    bool accepted;
  } cases[] = {
      {"https://help.tamsel.test/ideas", true},
      {"http://help.tamsel.test", true},
      {"HTTPS://help.tamsel.test/a?b=c#d", true},
      {"", false},
      {"https://", false},
      {"https:///path", false},
      {"http://?q", false},
      {"ftp://help.tamsel.test", false},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
      {"mailto:help@tamsel.test", false},
      {"help.tamsel.test", false},
      {" https://help.tamsel.test", false},
      {"https://help.tamsel.test/a b", false},
      {"https://help.tamsel.test/\n", false},
      {"https://help.tamsel.test/\x7f", false},
      {"https://help.tamsel.test/\"onmouseover=x", true},  // quoted where it is shown
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(acceptedWebAddress(c.value), c.accepted ? std::string(c.value) : std::string());
  }
}

class WebLinkButtons : public ::testing::Test {
 protected:
  NotificationCenter nc_;
  fakes::FakeResultView view_;
  fakes::FakeResultHost host_;
  PRResultViewController presenter_{nc_, view_, host_};
};

TEST_F(WebLinkButtons, WithoutAddressesNothingIsOpenedAndTheButtonsAreHidden) {
  presenter_.setWebLinks({});
  presenter_.clickFacebook();
  presenter_.clickTwitter();
  presenter_.clickSupport();
  EXPECT_TRUE(view_.openedUrls.empty());
  EXPECT_FALSE(view_.buttonVisible(ResultButton::facebook));
  EXPECT_FALSE(view_.buttonVisible(ResultButton::twitter));
}

TEST_F(WebLinkButtons, ConfiguredAddressesAreOpenedAndRefusedOnesDropped) {
  presenter_.setWebLinks({"https://ideas.tamsel.test", "https://social.tamsel.test/fb",
                          "file:///home/someone/.ssh/id_rsa"});
  EXPECT_TRUE(view_.buttonVisible(ResultButton::facebook));
  EXPECT_FALSE(view_.buttonVisible(ResultButton::twitter));
  EXPECT_EQ(presenter_.webLinks().twitter, "");
  presenter_.clickFacebook();
  presenter_.clickTwitter();
  presenter_.clickSupport();
  EXPECT_EQ(view_.openedUrls, (std::vector<std::string>{"https://social.tamsel.test/fb",
                                                        "https://ideas.tamsel.test"}));
}

}  // namespace
}  // namespace tamsel
