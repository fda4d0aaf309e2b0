// The desktop's colour scheme, from a settings portal of the test's own (test_portal, in a
// process of its own as a desktop's is) on a private session bus:
// dark when it first answers, light when it says so later, and the text of every output pane,
// the endpoint list and the properties window readable in both, as painted.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QImage>
#include <QLabel>
#include <QTimer>
#include <cmath>
#include <map>
#include <memory>
#include <string>

#include "netstat/netstat_pane.h"
#include "netstat/text_popup.h"
#include "recording_presenter.h"
#include "shell/color_scheme.h"
#include "shell/controls.h"
#include "shell/main_window.h"
#include "shell/module_pane.h"
#include "shell/module_table.h"
#include "shell/output.h"
#include "shell/output_text_size.h"
#include "test_util.h"

namespace {

double Luminance(QRgb c) {
  const auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

// What a control shows: its ground (the commonest colour), and the contrast of the text pixel
// farthest from it.
struct Painted {
  double ground = 0;
  double contrast = 0;
};

Painted Measure(QWidget* w) {
  const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
  std::map<QRgb, int> counts;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ++counts[image.pixel(x, y)];
  }
  QRgb ground = 0;
  int most = 0;
  for (const auto& [colour, n] : counts) {
    if (n > most) most = n, ground = colour;
  }
  Painted painted{Luminance(ground), 1};
  for (const auto& [colour, n] : counts) {
    const double a = Luminance(colour), b = painted.ground;
    painted.contrast =
        std::max(painted.contrast, (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05));
  }
  return painted;
}

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";

bool IsDark() {
  return QApplication::palette().color(QPalette::Window).lightness() < 128;
}

// Where a pane shows its text: the output pane's or the endpoint list's viewport.
QWidget* TextArea(ModulePane* pane) {
  QWidget* output = FindControlWidget(pane, kOutputPaneId);
  if (output == nullptr) output = FindControlWidget(pane, kNetstatListId);
  auto* area = qobject_cast<QAbstractScrollArea*>(output);
  return area != nullptr ? area->viewport() : nullptr;
}

class ColorSchemeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket_});
    ASSERT_TRUE(WaitUntil([&] {
      struct stat s {};
      return stat(socket_.c_str(), &s) == 0;
    })) << "dbus-daemon did not start";
    ASSERT_NO_FATAL_FAILURE(startPortal("1"));  // dark
  }
  void startPortal(const char* scheme) {
    portal_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TEST_PORTAL, address_, scheme}, false);
    ASSERT_TRUE(WaitUntil([&] {
      return bus().interface()->isServiceRegistered(QLatin1String(kPortal)).value();
    })) << "the test's portal did not start";
  }
  void TearDown() override {
    portal_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("test"));
    bus_.reset();
  }

  QDBusConnection bus() const {
    return QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("test"));
  }
  // The desktop's scheme changes: the portal's Set, a method of the test's portal only.
  void changeScheme(uint scheme) {
    QDBusMessage set = QDBusMessage::createMethodCall(
        QLatin1String(kPortal), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Set"));
    set << scheme;
    EXPECT_EQ(bus().call(set).type(), QDBusMessage::ReplyMessage);
  }

  // Every pane's output with text, at the largest text size: the strokes of its letters are
  // whole pixels of the text's colour.
  void fillPanes() {
    for (int size = 0; size != OutputTextSize();) {
      size = OutputTextSize();
      SetOutputTextSize(LargerTextSize(size));
    }
    for (const ModuleInfo& m : ModuleTable()) {
      if (FindControlWidget(window_.pane(m.buttonId), kOutputPaneId) != nullptr) {
        AppendOutput(window_.pane(m.buttonId), kOutputPaneId, std::string("WMW 0x4F \xe2\x96\x88"));
      }
    }
    // A row of the list: a socket of the test's own.
    udp_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(udp_, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
    auto* netstat = static_cast<NetstatPane*>(window_.pane(kNetstatButton));
    netstat->command(kNetstatRefreshId);
    ASSERT_TRUE(WaitUntil([&] { return !netstat->refreshing(); }, 10000));
  }

  // Each pane's text against its ground: dark grounds in the dark scheme, light ones in the
  // light one, and a contrast of at least 4.5:1 in both.
  void expectReadable(bool dark) {
    for (const ModuleInfo& m : ModuleTable()) {
      window_.ShowModule(m.buttonId);
      QWidget* area = TextArea(window_.pane(m.buttonId));
      ASSERT_NE(area, nullptr) << m.label;
      expectReadable(area, dark, m.label);
    }
  }
  static void expectReadable(QWidget* area, bool dark, const char* what) {
    const Painted painted = Measure(area);
    EXPECT_EQ(painted.ground < 0.2, dark) << what << ": ground " << painted.ground;
    EXPECT_GE(painted.contrast, 4.5) << what;
  }

  const TempDir dir_;
  const std::string socket_ = dir_.file("bus");
  const std::string address_ = "unix:path=" + socket_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> portal_;
  RecordingPresenter boxes_;
  MainWindow window_;
  int udp_ = -1;
};

}  // namespace

TEST_F(ColorSchemeTest, FollowsThePortalLiveAndStaysReadable) {
  window_.show();
  ASSERT_NO_FATAL_FAILURE(fillPanes());
  ASSERT_FALSE(IsDark());
  const QImage logo = FindControl<QLabel>(&window_, kLogoId)->grab().toImage();

  FollowDesktopColorScheme(
      QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("desktop")));
  ASSERT_TRUE(WaitUntil(IsDark)) << "the portal's first answer, dark, was not followed";
  ServeEvents(50);
  expectReadable(true);
  EXPECT_EQ(FindControl<QLabel>(&window_, kLogoId)->grab().toImage(), logo);  // its own colours

  // The properties window, open while the desktop turns light, turns with it.
  bool measured = false;
  QTimer::singleShot(0, [&] {
    QWidget* popup = QApplication::activeModalWidget();
    ASSERT_NE(popup, nullptr);
    auto* text = qobject_cast<QAbstractScrollArea*>(FindControlWidget(popup, kPopupTextId));
    ASSERT_NE(text, nullptr);
    expectReadable(text->viewport(), true, "properties, dark");
    changeScheme(0);
    EXPECT_TRUE(WaitUntil([] { return !IsDark(); })) << "the change to light was not followed";
    ServeEvents(50);
    expectReadable(text->viewport(), false, "properties, light");
    measured = true;
    popup->close();
  });
  ShowTextPopup(&window_, QStringLiteral("Connection Properties :"),
                "Protocol: UDP\r\nWMW \xe2\x96\x88\r\n");
  EXPECT_TRUE(measured);
  expectReadable(false);

  // A portal started anew (the desktop's was updated) is asked again.
  portal_.reset();
  startPortal("1");
  EXPECT_TRUE(WaitUntil(IsDark)) << "the new portal was not asked";
  close(udp_);
  window_.shutdown();
}
