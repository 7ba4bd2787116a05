// The operation dispatcher: every user action and timer tick becomes a
// numbered operation run here, in the window's thread, and a failure that an
// operation does not handle itself ends in the one error box. The table of
// operations is filled by the main form and the pages: for each code its
// action and, for a switch, the state that its menu items' check marks show.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <vector>

#include "app/operations.h"

class QAction;

namespace mkpt {

class TDialogs;

class TDispatcher : public QObject {
  Q_OBJECT
public:
  using TAction = std::function<void()>;
  using TCheckState = std::function<bool()>;

  explicit TDispatcher(TDialogs& dialogs, QObject* parent = nullptr);

  // Puts a code in the table with its action and, for a switch, its state.
  void Add(int code, TAction action, TCheckState checked = {});
  // Runs an operation; a failure shows the error box. Codes outside the
  // table do nothing.
  void Run(int code);
  // Runs an operation and lets its failure go to the caller.
  void RunBody(int code);
  // The error box: "Ошибочное действие : " and the message.
  void ShowError(const QString& message);

  // A menu item that raises a code; its check mark follows the code's state.
  void Bind(QAction* item, int code);
  // The state of a switch; false for codes without one.
  bool Checked(int code) const;
  // Sets the check mark of every bound item from its code's state.
  void UpdateCheckMarks();

private:
  struct TEntry {
    TAction Action;
    TCheckState Checked;
  };
  TDialogs& dialogs_;
  std::map<int, TEntry> table_;
  std::vector<QAction*> items_;
};

}  // namespace mkpt
