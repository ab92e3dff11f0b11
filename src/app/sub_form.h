// The progress window: a bar that advances by one per handled file, the count of files
// remaining and a cancel button. Created hidden at start-up, shown by each run.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "batch/batch_run.h"

namespace zembrat::app {

class TSubForm : public QWidget, public batch::ProgressView {
  public:
    // The owner is the main window: the progress window stays above it and is centred on it.
    explicit TSubForm(QWidget* owner = nullptr);

    // What the cancel button does after closing the window: clear the main window's
    // Processing flag.
    void SetOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }

    void CancelButtonClick();

    // ProgressView
    void ProgressInitialize(int count) override;
    void Show() override;
    void SetLabel(const std::string& text) override;
    void StepIt() override;
    void Close() override;

    QProgressBar ProgressBar;
    QLabel Label1;
    QPushButton CancelButton;

  private:
    std::function<void()> onCancel_;
};

}  // namespace zembrat::app
