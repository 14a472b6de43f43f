// The items of one member list: the members the window logic hands over, held as integers in the array the
// logic shares, and turned into text only for the rows a view asks about (to draw them, to select them, to
// read them out), so that replacing a list of millions of members costs no more than the reset itself.
#ifndef APP_MEMBER_LIST_MODEL_H_
#define APP_MEMBER_LIST_MODEL_H_

#include <QAbstractListModel>
#include <string>

#include "app/fnubrel_logic.h"

class member_list_model : public QAbstractListModel {
  Q_OBJECT

 public:
  // A model of no members.
  explicit member_list_model(QObject* parent = nullptr);

  // Shows `members` instead of the members held, and resets the model, so views drop their selection.
  void replace(member_array members);
  // The decimal text of row `row`, which must exist.
  std::string item(int row) const;

  QModelIndex index(int row, int column = 0, const QModelIndex& parent = QModelIndex()) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

 private:
  int size() const { return static_cast<int>(members_->size()); }

  member_array members_;
};

#endif  // APP_MEMBER_LIST_MODEL_H_
