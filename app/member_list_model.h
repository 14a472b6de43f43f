// The items of one member list: the decimal texts the window logic hands over, kept as they came and turned
// into display text only for the rows a view actually draws, so a list of a million members stays cheap.
#ifndef APP_MEMBER_LIST_MODEL_H_
#define APP_MEMBER_LIST_MODEL_H_

#include <QAbstractListModel>
#include <QSize>
#include <string>
#include <vector>

class member_list_model : public QAbstractListModel {
  Q_OBJECT

 public:
  // Every row reports `item_height` pixels as its height, which a view with uniform item sizes takes for all.
  explicit member_list_model(int item_height, QObject* parent = nullptr);

  // Replaces every item by `items`, in order; views drop their selection.
  void replace(const std::vector<std::string>& items);
  // The text of row `row`, which must exist.
  const std::string& item(int row) const { return items_[static_cast<std::size_t>(row)]; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  std::vector<std::string> items_;
  QSize item_size_;
};

#endif  // APP_MEMBER_LIST_MODEL_H_
