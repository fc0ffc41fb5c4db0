#include "ui/closed_list_guard.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>

ClosedListGuard::ClosedListGuard(QWidget& window,
                                 std::initializer_list<const QComboBox*> writingLists)
    : QObject(&window), writingLists_(writingLists.begin(), writingLists.end()) {
    for (QComboBox* box : window.findChildren<QComboBox*>())
        box->installEventFilter(this);
}

bool ClosedListGuard::eventFilter(QObject* watched, QEvent* event) {
    // The open list is a popup of its own: the wheel there reaches it, not the list's button.
    if (event->type() == QEvent::Wheel) return true;
    if (event->type() != QEvent::KeyPress || !writingLists_.count(watched)) return false;
    auto* box = static_cast<QComboBox*>(watched);
    if (box->view()->isVisible()) return false;
    const auto& key = static_cast<const QKeyEvent&>(*event);
    switch (key.key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
            // Alt with either arrow opens the list; the toolkit itself would step to the
            // previous item on Alt+Up.
            if (key.modifiers() & Qt::AltModifier) box->showPopup();
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            return true;
        default:
            // Typing an item's first letters would choose it.
            return !key.text().isEmpty() && key.text() != " " && key.text()[0].isPrint();
    }
}
