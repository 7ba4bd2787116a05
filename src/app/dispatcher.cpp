#include "app/dispatcher.h"

#include <QAction>
#include <exception>

#include "app/dialogs.h"
#include "app/qtext.h"

namespace mkpt {

TDispatcher::TDispatcher(TDialogs& dialogs, QObject* parent) : QObject(parent), dialogs_(dialogs) {}

void TDispatcher::Add(int code, TAction action, TCheckState checked) {
  table_[code] = TEntry{std::move(action), std::move(checked)};
}

void TDispatcher::Run(int code) {
  try {
    RunBody(code);
  } catch (const std::exception& e) {
    ShowError(FromEngine(e.what()));
  }
}

void TDispatcher::RunBody(int code) {
  const auto found = table_.find(code);
  if (found == table_.end() || !found->second.Action) return;  // 1, 6 and codes outside the table
  const bool isSwitch = static_cast<bool>(found->second.Checked);
  found->second.Action();
  if (isSwitch) UpdateCheckMarks();
}

void TDispatcher::ShowError(const QString& message) {
  dialogs_.Error(QString::fromUtf8("Ошибочное действие : ") + message);
}

void TDispatcher::Bind(QAction* item, int code) {
  item->setData(code);
  const auto found = table_.find(code);
  item->setCheckable(found != table_.end() && found->second.Checked);
  connect(item, &QAction::triggered, this, [this, code] { Run(code); });
  connect(item, &QObject::destroyed, this, [this, item] { std::erase(items_, item); });
  items_.push_back(item);
  if (item->isCheckable()) item->setChecked(Checked(code));
}

bool TDispatcher::Checked(int code) const {
  const auto found = table_.find(code);
  return found != table_.end() && found->second.Checked && found->second.Checked();
}

void TDispatcher::UpdateCheckMarks() {
  for (QAction* item : items_)
    if (item->isCheckable()) item->setChecked(Checked(item->data().toInt()));
}

}  // namespace mkpt
