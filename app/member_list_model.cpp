#include "app/member_list_model.h"

#include <utility>

member_list_model::member_list_model(int item_height, QObject* parent)
    : QAbstractListModel(parent), item_size_(0, item_height) {}

// The new items are packed into the spare storage before the reset begins, so a failure changes nothing
// shown. A spare far larger than the items now shown is given back rather than kept.
bool member_list_model::replace(const std::vector<std::string>& items) {
  if (holds(items)) return false;
  std::size_t length = 0;
  for (const std::string& text : items) length += text.size();
  spare_.characters.resize(length);
  spare_.ends.resize(items.size());
  char* const characters = spare_.characters.data();
  std::size_t end = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    items[i].copy(characters + end, items[i].size());
    end += items[i].size();
    spare_.ends[i] = end;
  }
  beginResetModel();
  std::swap(items_, spare_);
  endResetModel();
  if (spare_.ends.capacity() > 2 * items_.ends.size() + 1024) spare_ = packed_texts();
  return true;
}

bool member_list_model::holds(const std::vector<std::string>& items) const {
  if (items.size() != items_.ends.size()) return false;
  const std::string_view characters(items_.characters);
  std::size_t begin = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t end = items_.ends[i];
    if (characters.substr(begin, end - begin) != items[i]) return false;
    begin = end;
  }
  return true;
}

std::string_view member_list_model::item(int row) const {
  const auto at = static_cast<std::size_t>(row);
  const std::size_t begin = at == 0 ? 0 : items_.ends[at - 1];
  return std::string_view(items_.characters).substr(begin, items_.ends[at] - begin);
}

// Views ask for an index per row whenever they lay out, so this answers without the base class's checks
// through the virtual rowCount() and columnCount().
QModelIndex member_list_model::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || column != 0 || row < 0 || row >= size()) return QModelIndex();
  return createIndex(row, 0);
}

int member_list_model::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : size(); }

QVariant member_list_model::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= size()) return {};
  switch (role) {
    case Qt::DisplayRole: {
      const std::string_view text = item(index.row());
      return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    case Qt::SizeHintRole:
      return item_size_;
    default:
      return {};
  }
}
