#include "app/member_list_model.h"

member_list_model::member_list_model(int item_height, QObject* parent)
    : QAbstractListModel(parent), item_size_(0, item_height) {}

// The copy is made before the reset begins, so running out of memory leaves the list as it was.
void member_list_model::replace(const std::vector<std::string>& items) {
  std::vector<std::string> copy(items);
  beginResetModel();
  items_.swap(copy);
  endResetModel();
}

int member_list_model::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant member_list_model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(item(index.row()));
    case Qt::SizeHintRole:
      return item_size_;
    default:
      return {};
  }
}
