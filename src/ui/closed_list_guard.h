// Keeps the lists of a window from changing unless the operator chose: the mouse wheel passing
// over a closed drop-down list never changes it, focused or not (its open list still scrolls).
// A list whose choice writes to the device at once is stricter still: while it is closed the
// keys that step through it or type an item's first letters do nothing either, so that only a
// choice in its open list writes. Alt+Down and Alt+Up open it.
#pragma once

#include <QObject>
#include <initializer_list>
#include <set>

class QComboBox;
class QWidget;

class ClosedListGuard : public QObject {
  public:
    // Guards every drop-down list inside `window`; `writingLists` get the stricter rule. The
    // guard belongs to the window.
    ClosedListGuard(QWidget& window, std::initializer_list<const QComboBox*> writingLists = {});

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::set<const QObject*> writingLists_;
};
