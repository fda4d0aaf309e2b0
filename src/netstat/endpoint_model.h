#pragma once

#include <QAbstractTableModel>
#include <memory>
#include <string>
#include <vector>

#include "netstat/endpoint_table.h"
#include "netstat/netstat_actions.h"

// The rows of the Netstat list: indices into one endpoint snapshot, which the model keeps alive
// for as long as it shows them. Cells are made from the record when the view asks, so a table
// of tens of thousands of endpoints costs one index per row.
class EndpointModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit EndpointModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Shows these rows of the snapshot in this order, in place of everything shown before.
  void showRows(std::shared_ptr<const EndpointSnapshot> snapshot, std::vector<uint32_t> rows);
  // Sorts the rows shown, stably; a selected row keeps its endpoint.
  void sortRows(int column, bool ascending);
  void removeEndpointRow(int row);

  // The record of a row as shown, or null when there is no such row.
  const EndpointRecord* record(int row) const;
  // The text of one cell of a row as shown (its bytes, at most 299), empty without the row.
  std::string GetCellText(int row, int column) const;
  RowCells cells(int row) const;
  // The row as Copy List and Copy Line hand it on (UTF-8, cells between tabs, CR LF at the
  // end): each cell as the list shows it, so a name that is not UTF-8 is copied as the Latin-1
  // characters shown, not as replacement characters.
  std::string shownLine(int row) const;

 private:
  std::shared_ptr<const EndpointSnapshot> snapshot_;
  std::vector<uint32_t> rows_;
};

// Text from outside for display: UTF-8 where it is valid, else each byte as Latin-1.
QString DisplayText(const std::string& bytes);
