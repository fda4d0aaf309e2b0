#include "shell/color_scheme.h"

#include <QApplication>
#include <QDBusAbstractInterface>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QPointer>
#include <QStyle>
#include <QStyleHints>
#include <memory>
#include <optional>

namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kAppearance = "org.freedesktop.appearance";
constexpr const char* kColorSchemeKey = "color-scheme";

bool IsDark(const QPalette& palette) {
  return palette.color(QPalette::Window).lightness() < 128;
}

// Light text on dark grounds, every pair of text and ground at a contrast of 7:1 or more, and
// disabled text still apart from its ground.
QPalette DarkPalette() {
  const QColor text(230, 230, 230);
  const QColor disabledText(128, 128, 128);
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 45));
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  p.setColor(QPalette::AlternateBase, QColor(38, 38, 38));
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::PlaceholderText, QColor(140, 140, 140));
  p.setColor(QPalette::Button, QColor(53, 53, 53));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::BrightText, QColor(255, 110, 110));
  p.setColor(QPalette::Light, QColor(85, 85, 85));
  p.setColor(QPalette::Midlight, QColor(68, 68, 68));
  p.setColor(QPalette::Mid, QColor(105, 105, 105));  // group frames, drawn on the window
  p.setColor(QPalette::Dark, QColor(25, 25, 25));
  p.setColor(QPalette::Shadow, QColor(10, 10, 10));
  p.setColor(QPalette::Highlight, QColor(42, 111, 176));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, QColor(58, 54, 36));  // a note's colour, darkened
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::Link, QColor(108, 180, 255));
  p.setColor(QPalette::LinkVisited, QColor(194, 155, 255));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, disabledText);
  }
  p.setColor(QPalette::Disabled, QPalette::Base, QColor(45, 45, 45));
  p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(75, 75, 75));
  return p;
}

// The color-scheme value in a portal's answer or signal: in the variant the interface gives it,
// and in one more where the real portals' Read wraps it again, so up to two are taken off.
std::optional<uint32_t> SchemeValue(QVariant value) {
  for (int wraps = 0; wraps < 2 && value.userType() == qMetaTypeId<QDBusVariant>(); ++wraps) {
    value = qvariant_cast<QDBusVariant>(value).variant();
  }
  bool ok = false;
  const uint32_t number = value.toUInt(&ok);
  return ok ? std::optional<uint32_t>(number) : std::nullopt;
}

// The settings interface of the portal with this unique bus name; its SettingChanged signal
// reaches the Qt signal of the same name as soon as something connects to it.
class PortalSettings : public QDBusAbstractInterface {
  Q_OBJECT

 public:
  PortalSettings(const QString& owner, const QDBusConnection& bus, QObject* parent)
      : QDBusAbstractInterface(owner, QLatin1String(kPortalPath), kSettingsInterface, bus, parent) {
  }

 Q_SIGNALS:
  void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);
};

// Keeps the application's palette in step with the desktop's scheme. The portal is asked
// once, and again whenever another process takes its name; its changes are taken only from the
// process that answered (its unique name), so no other program on the bus can send them.
class SchemeFollower : public QObject {
 public:
  explicit SchemeFollower(const QDBusConnection& bus)
      : QObject(qApp),
        platform_(QGuiApplication::palette()),
        bus_(bus),
        watcher_(QLatin1String(kPortalService), bus, QDBusServiceWatcher::WatchForOwnerChange) {
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
              portal_.reset();
              if (!owner.isEmpty()) askPortal();
            });
    if (bus_.isConnected()) askPortal();
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    const QStyleHints* hints = QGuiApplication::styleHints();
    connect(hints, &QStyleHints::colorSchemeChanged, this,
            [this](Qt::ColorScheme scheme) { applyQtScheme(scheme); });
    applyQtScheme(hints->colorScheme());
#endif
  }

  ~SchemeFollower() override {
    if (!QCoreApplication::closingDown()) QApplication::setPalette(platform_);
  }

 private:
  void askPortal() {
    const QDBusMessage read =
        QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                       QLatin1String(kSettingsInterface), QStringLiteral("Read"))
        << QLatin1String(kAppearance) << QLatin1String(kColorSchemeKey);
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(read), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      const QDBusPendingReply<QDBusVariant> reply = *w;
      if (reply.isError()) return;  // no portal, or no such setting: as it is
      listenTo(reply.reply().service());
      if (std::optional<uint32_t> v = SchemeValue(QVariant::fromValue(reply.value()))) {
        apply(ColorSchemeFromPortal(*v));
      }
    });
  }

  void listenTo(const QString& owner) {
    portal_ = std::make_unique<PortalSettings>(owner, bus_, nullptr);
    connect(
        portal_.get(), &PortalSettings::SettingChanged, this,
        [this](const QString& nameSpace, const QString& key, const QDBusVariant& value) {
          if (nameSpace != QLatin1String(kAppearance) || key != QLatin1String(kColorSchemeKey)) {
            return;
          }
          if (std::optional<uint32_t> v = SchemeValue(QVariant::fromValue(value))) {
            apply(ColorSchemeFromPortal(*v));
          }
        });
  }

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
  void applyQtScheme(Qt::ColorScheme scheme) {
    if (scheme == Qt::ColorScheme::Dark) apply(ColorScheme::kDark);
    if (scheme == Qt::ColorScheme::Light) apply(ColorScheme::kLight);
  }
#endif

  void apply(ColorScheme scheme) {
    const QPalette wanted = PaletteForScheme(scheme, platform_);
    if (wanted == QGuiApplication::palette()) return;
    QApplication::setPalette(wanted);
    // Under a style sheet the widgets take the palette only when they are polished again.
    qApp->setStyleSheet(qApp->styleSheet());
  }

  const QPalette platform_;  // as the program found it
  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  std::unique_ptr<PortalSettings> portal_;
};

QPointer<SchemeFollower> g_follower;

}  // namespace

ColorScheme ColorSchemeFromPortal(uint32_t value) {
  switch (value) {
    case 1:
      return ColorScheme::kDark;
    case 2:
      return ColorScheme::kLight;
    default:
      return ColorScheme::kNoPreference;
  }
}

QPalette PaletteForScheme(ColorScheme scheme, const QPalette& platform) {
  switch (scheme) {
    case ColorScheme::kDark:
      return IsDark(platform) ? platform : DarkPalette();
    case ColorScheme::kLight:
      return IsDark(platform) ? QApplication::style()->standardPalette() : platform;
    case ColorScheme::kNoPreference:
      break;
  }
  return platform;
}

void FollowDesktopColorScheme(const QDBusConnection& bus) {
  delete g_follower.data();
  g_follower = new SchemeFollower(bus);
}

#include "color_scheme.moc"
