#include "app/member_list_model.h"

#include <memory>
#include <utility>

#include "app/integer_text.h"

member_list_model::member_list_model(QObject* parent)
    : QAbstractListModel(parent), members_(std::make_shared<const intset::tarrayofinteger>()) {}

void member_list_model::replace(member_array members) {
  beginResetModel();
  members_ = std::move(members);
  endResetModel();
}

std::string member_list_model::item(int row) const {
  char text[integer_text::max_decimal_length];
  return std::string(text, integer_text::write_decimal(text, (*members_)[static_cast<std::size_t>(row)]));
}

// Views ask for an index per row they look at, so this answers without the base class's checks through the
// virtual rowCount() and columnCount().
QModelIndex member_list_model::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || column != 0 || row < 0 || row >= size()) return QModelIndex();
  return createIndex(row, 0);
}

int member_list_model::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : size(); }

QVariant member_list_model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= size()) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
      return QString::fromStdString(item(index.row()));
    default:
      return {};
  }
}
