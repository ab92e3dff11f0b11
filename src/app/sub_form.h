// The progress window: a bar that advances by one per handled file (and, between those steps,
// with the bytes of the file in progress), the count of files remaining and a cancel button.
// Created hidden at start-up, shown by each run. Cancelling, by the button or by closing the
// window, leaves it open saying that the run stops, until the run has ended.
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

    // What the cancel button does: clear the main window's Processing flag (the library is
    // then stopped at its next progress report).
    void SetOnCancel(std::function<void()> onCancel) { onCancel_ = std::move(onCancel); }

    void CancelButtonClick();
    // True from a cancel until the run closes the window.
    bool Stopping() const { return stopping_; }
    // Where the bar stands within the current file's step, from 0 to 1; it never goes back.
    void SetFileFraction(double fraction);

    // ProgressView
    void ProgressInitialize(int count) override;
    void Show() override;
    void SetLabel(const std::string& text) override;
    void StepIt() override;
    void Close() override;

    QProgressBar ProgressBar;
    QLabel Label1;
    QPushButton CancelButton;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    // The bar counts in these units per file, so that it can move within a file.
    static constexpr int kStepUnits = 1000;

    std::function<void()> onCancel_;
    bool stopping_ = false;
    int filesDone_ = 0;
};

}  // namespace zembrat::app
