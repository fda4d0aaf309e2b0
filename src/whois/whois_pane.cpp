#include "whois/whois_pane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "shell/controls.h"
#include "shell/output.h"
#include "shell/output_batch.h"
#include "shell/ui_thread.h"
#include "shell/worker_thread.h"
#include "whois/whois_answer.h"
#include "whois/whois_exchange.h"
#include "whois/whois_query.h"
#include "whois/whois_servers.h"
#include "whois/whois_service.h"

namespace {

constexpr int kStartButtonId = 1;

QComboBox* MakeEditableCombo(QWidget* pane, int id, int visibleItems) {
  auto* box = new QComboBox(pane);
  SetControlId(box, id);
  box->setEditable(true);
  box->setInsertPolicy(QComboBox::NoInsert);  // the history is the pane's own business
  box->setMaxVisibleItems(visibleItems);
  return box;
}

}  // namespace

WhoisPane::WhoisPane(QWidget* mainWindow, WhoisService& service)
    : ModulePane(mainWindow), service_(service) {
  buildControls();
}

WhoisPane::~WhoisPane() {
  if (run_) run_->cancel();
}

void WhoisPane::buildControls() {
  // The two boxes share the room the pane has beyond its size.
  auto* queryGroup = new QGroupBox(QStringLiteral("Domain Name / IP Address :"), this);
  place(queryGroup, 7, 0, 171, 44, Across(0, 0.5));
  auto* serverGroup = new QGroupBox(QStringLiteral("Custom Whois Server :"), this);
  place(serverGroup, 183, 0, 198, 44, Across(0.5, 1));

  // Dropped-down lists as tall as the layout allows: 71 and 235 dialog units.
  QComboBox* query = MakeEditableCombo(this, kWhoisQueryBoxId, 7);
  place(query, 17, 11, 156, 12, Across(0, 0.5));
  PutInGroup(query, queryGroup);

  auto* start = new QPushButton(QStringLiteral("Start"), this);
  SetControlId(start, kStartButtonId);
  start->setDefault(true);
  place(start, 133, 27, 40, 14, Across(0.5, 0.5));
  connect(start, &QPushButton::clicked, this, [this] { command(kStartButtonId); });

  QComboBox* servers = MakeEditableCombo(this, kWhoisServerBoxId, 27);
  for (const WhoisServerRow& row : WhoisServers()) {
    servers->addItem(QString::fromLatin1(row.server.data(), qsizetype(row.server.size())));
  }
  servers->setCurrentIndex(-1);
  servers->setEditText(QString());
  servers->setEnabled(false);
  place(servers, 191, 11, 182, 12, Across(0.5, 1));
  PutInGroup(servers, serverGroup);

  auto* custom = new QCheckBox(QStringLiteral("Choose Whois Server"), this);
  SetControlId(custom, kWhoisCustomCheckId);
  place(custom, 289, 30, 84, 8, kMoveRight);
  connect(custom, &QCheckBox::clicked, this, [this] { command(kWhoisCustomCheckId); });

  MakeOutputPane(this, kOutputPaneId, QRect(7, 49, 374, 214), true, OutputScrollBars::Both, true);
}

void WhoisPane::command(int id) {
  if (id == kStartButtonId) {
    if (run_) {
      stopQuery();
    } else {
      startQuery();
    }
  } else if (id == kWhoisCustomCheckId) {
    const auto* custom = FindControl<QCheckBox>(this, kWhoisCustomCheckId);
    EnableControl(this, kWhoisServerBoxId, custom != nullptr && custom->isChecked());
  }
}

void WhoisPane::CloseWhoisModule() {
  stopQuery();
}

void WhoisPane::startQuery() {
  run_ = NewRunToken();
  SetControlText(this, kStartButtonId, QStringLiteral("Stop"));

  WhoisRequest request;
  request.text = ReadControlText(this, kWhoisQueryBoxId);
  AddToHistory(FindControl<QComboBox>(this, kWhoisQueryBoxId));
  const auto* custom = FindControl<QCheckBox>(this, kWhoisCustomCheckId);
  request.customServerChecked = custom != nullptr && custom->isChecked();
  if (request.customServerChecked) {
    request.customServerText = ReadControlText(this, kWhoisServerBoxId);
  }
  if (auto* output = FindControl<QPlainTextEdit>(this, kOutputPaneId)) output->clear();

  StartWorkerThread(
      this,
      [this, request = std::move(request), token = run_] {
        WhoisWorker(this, &service_, request, token);
      },
      [this] { stopQuery(); });
}

// A stopped query is forgotten at once: its thread ends by itself and nothing it still writes
// is shown.
void WhoisPane::stopQuery() {
  if (!run_) return;
  run_->cancel();
  run_.reset();
  SetControlText(this, kStartButtonId, QStringLiteral("Start"));
}

void WhoisPane::finishQuery(const RunTokenPtr& token, bool answered) {
  if (token != run_) return;
  // Show the start of the answer rather than its end, where the caret is.
  if (auto* output = FindControl<QPlainTextEdit>(this, kOutputPaneId); answered && output) {
    output->verticalScrollBar()->setValue(output->verticalScrollBar()->minimum());
  }
  run_.reset();
  SetControlText(this, kStartButtonId, QStringLiteral("Start"));
}

void WhoisWorker(WhoisPane* pane, WhoisService* service, WhoisRequest request, RunTokenPtr token) {
  const WhoisRun run{pane, token, service};
  const std::optional<std::string> answer =
      IsWhoisAddress(request.text)
          ? WhoisByAddress(run, request.text)
          : WhoisByName(run, request.text, request.customServerChecked, request.customServerText);
  if (answer) {
    // Made ready here, not on the UI thread, and handed over in batches, so that even the
    // largest answer keeps the window responsive.
    OutputBatch output(token, pane, kOutputPaneId);
    output.append(WhoisTextForDisplay(*answer));
    output.flush();
  }
  RunOnUiThread(token, [&] { pane->finishQuery(token, answer.has_value()); });
}
