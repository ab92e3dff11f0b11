#include "app/sub_form.h"

#include <QCloseEvent>
#include <algorithm>

#include "app/ui_style.h"

namespace zembrat::app {

namespace {

const QString kCaption = QStringLiteral("進行状況");
const QString kRemaining = QStringLiteral("残り：");
const QString kStopping = QStringLiteral("中止しています…");

}  // namespace

TSubForm::TSubForm(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      ProgressBar(this),
      Label1(kRemaining, this),
      CancelButton(QStringLiteral("キャンセル"), this) {
    setWindowTitle(kCaption);
    ApplyFormLook(*this);
    setFixedSize(284, 48);

    ProgressBar.setGeometry(5, 8, 273, 16);
    ProgressBar.setRange(0, 100);
    ProgressBar.setValue(0);
    ProgressBar.setTextVisible(false);

    Label1.move(8, 30);
    Label1.adjustSize();

    CancelButton.setGeometry(194, 27, 85, 20);
    CancelButton.setFlat(true);
    CancelButton.setFocusPolicy(Qt::NoFocus);
    connect(&CancelButton, &QPushButton::clicked, this, [this] { CancelButtonClick(); });
}

void TSubForm::CancelButtonClick() {
    if (stopping_) {
        return;
    }
    stopping_ = true;
    CancelButton.setEnabled(false);
    Label1.setText(kStopping);
    Label1.adjustSize();
    if (onCancel_) {
        onCancel_();
    }
}

// Closing the window during a run is a cancel; the window stays until the run has ended.
void TSubForm::closeEvent(QCloseEvent* event) {
    if (isVisible()) {
        event->ignore();
        CancelButtonClick();
        return;
    }
    QWidget::closeEvent(event);
}

void TSubForm::ProgressInitialize(int count) {
    stopping_ = false;
    filesDone_ = 0;
    CancelButton.setEnabled(true);
    ProgressBar.setValue(0);
    ProgressBar.setMaximum(count * kStepUnits);
    Label1.setText(kRemaining + QString::number(count));
    Label1.adjustSize();
}

void TSubForm::Show() {
    if (QWidget* owner = parentWidget()) {
        const QRect ownerFrame = owner->frameGeometry();
        move(ownerFrame.center() - QPoint(width() / 2, height() / 2));
    }
    show();
}

void TSubForm::SetLabel(const std::string& text) {
    if (stopping_) {
        return;  // it says that the run stops until the run has ended
    }
    Label1.setText(QString::fromUtf8(text));
    Label1.adjustSize();
}

void TSubForm::StepIt() {
    ++filesDone_;
    // Past the maximum the bar starts again, as a stepped bar does.
    if (filesDone_ * kStepUnits > ProgressBar.maximum()) {
        filesDone_ = 0;
    }
    ProgressBar.setValue(filesDone_ * kStepUnits);
}

void TSubForm::SetFileFraction(double fraction) {
    const int within = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * (kStepUnits - 1));
    const int value = std::min(filesDone_ * kStepUnits + within, ProgressBar.maximum());
    if (value > ProgressBar.value()) {
        ProgressBar.setValue(value);
    }
}

void TSubForm::Close() {
    hide();
}

}  // namespace zembrat::app
