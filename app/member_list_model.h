// The items of one member list: the texts the window logic hands over, packed back to back and turned into
// display text only for the rows a view actually draws, so that a list of a million members stays cheap to
// replace and to lay out.
#ifndef APP_MEMBER_LIST_MODEL_H_
#define APP_MEMBER_LIST_MODEL_H_

#include <QAbstractListModel>
#include <QSize>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class member_list_model : public QAbstractListModel {
  Q_OBJECT

 public:
  // Every row reports `item_height` pixels as its height, which a view with uniform item sizes takes for all.
  explicit member_list_model(int item_height, QObject* parent = nullptr);

  // Replaces every item by `items`, in order, and resets the model, so views drop their selection and lay
  // out again. Items equal to those held change nothing and give false. Running out of memory leaves the
  // items as they were.
  bool replace(const std::vector<std::string>& items);
  // Whether the items are `items`, in order.
  bool holds(const std::vector<std::string>& items) const;
  // The text of row `row`, which must exist.
  std::string_view item(int row) const;

  QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  // All texts back to back, and where each one ends.
  struct packed_texts {
    std::string characters;
    std::vector<std::size_t> ends;
  };
  int size() const { return static_cast<int>(items_.ends.size()); }

  packed_texts items_;
  packed_texts spare_;  // the previous items' storage, reused by the next replace
  QSize item_size_;
};

#endif  // APP_MEMBER_LIST_MODEL_H_
