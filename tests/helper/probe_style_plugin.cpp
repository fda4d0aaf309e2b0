// A style plugin such as any user can put in a folder that QT_PLUGIN_PATH names: when Qt loads
// it (QT_STYLE_OVERRIDE=pelorinprobe), it writes the capability sets of the process it was
// loaded into to the file that PELORIN_PROBE_OUT names, and ends that process.
#include <fcntl.h>
#include <unistd.h>

#include <QStylePlugin>
#include <fstream>
#include <string>

class ProbeStylePlugin : public QStylePlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "probe_style_plugin.json")

 public:
  QStyle* create(const QString&) override {
    std::ifstream status("/proc/self/status");
    std::ofstream out(qgetenv("PELORIN_PROBE_OUT").toStdString());
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("Cap")) out << line << '\n';
    }
    out.close();
    _exit(0);
  }
};

#include "probe_style_plugin.moc"
