#include "netstat/endpoint_model.h"

#include <QStringDecoder>

namespace {

constexpr const char* kColumnTitles[kEndpointColumns] = {"Process", "Proto", "Local Address",
                                                         "Remote Address", "State"};

}  // namespace

QString DisplayText(const std::string& bytes) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = utf8(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
  if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
  return text;
}

EndpointModel::EndpointModel(QObject* parent) : QAbstractTableModel(parent) {}

int EndpointModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int EndpointModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kEndpointColumns;
}

QVariant EndpointModel::data(const QModelIndex& index, int role) const {
  if (record(index.row()) == nullptr) return {};
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
    return DisplayText(GetCellText(index.row(), index.column()));
  }
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

QVariant EndpointModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kEndpointColumns) return {};
  if (role == Qt::DisplayRole) return QString::fromLatin1(kColumnTitles[section]);
  if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

void EndpointModel::showRows(std::shared_ptr<const EndpointSnapshot> snapshot,
                             std::vector<uint32_t> rows) {
  beginResetModel();
  snapshot_ = std::move(snapshot);
  rows_ = std::move(rows);
  endResetModel();
}

void EndpointModel::sortRows(int column, bool ascending) {
  if (snapshot_ == nullptr) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<uint32_t> before = rows_;
  SortEndpointRows(rows_, *snapshot_, column, ascending);
  // Where each record went, so persistent indices (the selection) follow their endpoint.
  std::vector<int> rowOfRecord(snapshot_->records.size(), -1);
  for (size_t i = 0; i < rows_.size(); ++i) rowOfRecord[rows_[i]] = static_cast<int>(i);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    const int row = rowOfRecord[before[size_t(index.row())]];
    to.append(this->index(row, index.column()));
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void EndpointModel::removeEndpointRow(int row) {
  if (record(row) == nullptr) return;
  beginRemoveRows(QModelIndex(), row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

const EndpointRecord* EndpointModel::record(int row) const {
  if (snapshot_ == nullptr || row < 0 || size_t(row) >= rows_.size()) return nullptr;
  return &snapshot_->records[rows_[size_t(row)]];
}

std::string EndpointModel::GetCellText(int row, int column) const {
  const EndpointRecord* r = record(row);
  return r ? EndpointCellText(*r, column) : std::string();
}

RowCells EndpointModel::cells(int row) const {
  const EndpointRecord* r = record(row);
  return r ? CellsOf(*r) : RowCells{};
}

std::string EndpointModel::shownLine(int row) const {
  // No cell holds a tab (a name's control characters are '?'): each piece between tabs is one
  // cell.
  const std::string line = FormatRowLine(cells(row));
  QString shown;
  for (size_t start = 0;;) {
    const size_t tab = line.find('\t', start);
    shown += DisplayText(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) break;
    shown += u'\t';
    start = tab + 1;
  }
  return shown.toStdString();
}
