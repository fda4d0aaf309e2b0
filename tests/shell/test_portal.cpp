// A settings portal of the tests' own, as desktops run one in a process of its own:
// test_portal BUS-ADDRESS SCHEME serves org.freedesktop.portal.Settings on that bus, answering
// org.freedesktop.appearance color-scheme with SCHEME; its test method Set(u) changes the value
// and announces it with SettingChanged, as a desktop does when the user changes the scheme.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusVariant>
#include <cstdio>

class TestPortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

 public:
  explicit TestPortal(uint scheme) : scheme_(scheme) {}

 public Q_SLOTS:
  // As the real portals answer: the value wrapped in one variant more than the interface says.
  QDBusVariant Read(const QString&, const QString&) {
    return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme_)));
  }
  void Set(uint scheme) {
    scheme_ = scheme;
    Q_EMIT SettingChanged(QStringLiteral("org.freedesktop.appearance"),
                          QStringLiteral("color-scheme"), QDBusVariant(scheme_));
  }

 Q_SIGNALS:
  void SettingChanged(const QString& nameSpace, const QString& key, const QDBusVariant& value);

 private:
  uint scheme_;
};

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 3) {
    std::fputs("usage: test_portal BUS-ADDRESS SCHEME\n", stderr);
    return 2;
  }
  QDBusConnection bus =
      QDBusConnection::connectToBus(QString::fromLocal8Bit(argv[1]), QStringLiteral("portal"));
  TestPortal portal(QString::fromLocal8Bit(argv[2]).toUInt());
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                          QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fputs("test_portal: cannot serve on the bus\n", stderr);
    return 1;
  }
  return app.exec();
}

#include "test_portal.moc"
