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
      {"HTTPS://help.tamsel.test/a?b=c#d", true},
      {"", false},
      {"https://", false},
      {"https:///path", false},
      {"http://?q", false},
      {"file:///etc/passwd", false},
      {"javascript:alert(1)", false},
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

// Without addresses nothing opens and the buttons are hidden; configured addresses open,
// refused ones are dropped.
TEST(WebLinkButtons, OpenOnlyAcceptedAddresses) {
  NotificationCenter nc;
  fakes::FakeResultView view;
  fakes::FakeResultHost host;
  PRResultViewController presenter{nc, view, host};
  auto clickAll = [&] {
    presenter.clickFacebook();
    presenter.clickTwitter();
    presenter.clickSupport();
  };
  presenter.setWebLinks({});
  clickAll();
  EXPECT_TRUE(view.openedUrls.empty());
  EXPECT_FALSE(view.buttonVisible(ResultButton::facebook));
  EXPECT_FALSE(view.buttonVisible(ResultButton::twitter));

  presenter.setWebLinks({"https://ideas.tamsel.test", "https://social.tamsel.test/fb",
                         "file:///home/someone/.ssh/id_rsa"});
  EXPECT_TRUE(view.buttonVisible(ResultButton::facebook));
  EXPECT_FALSE(view.buttonVisible(ResultButton::twitter));
  EXPECT_EQ(presenter.webLinks().twitter, "");
  clickAll();
  EXPECT_EQ(view.openedUrls, (std::vector<std::string>{"https://social.tamsel.test/fb",
                                                       "https://ideas.tamsel.test"}));
}

}  // namespace
}  // namespace tamsel
