// Drives modal dialogs in tests: each time the dialog shows, the next scripted step runs
// inside its event loop (choose items, press OK, or close it).
#pragma once

#include <QDialog>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

class DialogScript : public QObject {
  public:
    using Step = std::function<void(QDialog&)>;

    DialogScript(QDialog& dialog, std::deque<Step> steps)
        : dialog_(dialog), steps_(std::move(steps)) {
        dialog_.installEventFilter(this);
    }
    ~DialogScript() override { dialog_.removeEventFilter(this); }

    int showings = 0;
    bool Finished() const { return steps_.empty(); }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &dialog_ && event->type() == QEvent::Show) {
            ++showings;
            Step step = steps_.empty() ? Step([](QDialog& d) { d.reject(); }) : steps_.front();
            if (!steps_.empty()) steps_.pop_front();
            QTimer::singleShot(0, &dialog_, [this, step] { step(dialog_); });
        }
        return false;
    }

  private:
    QDialog& dialog_;
    std::deque<Step> steps_;
};
