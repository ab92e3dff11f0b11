#include "app/sub_form.h"

#include "app/ui_style.h"

namespace zembrat::app {

namespace {

const QString kCaption = QStringLiteral("進行状況");
const QString kRemaining = QStringLiteral("残り：");

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
    hide();
    if (onCancel_) {
        onCancel_();
    }
}

void TSubForm::ProgressInitialize(int count) {
    ProgressBar.setValue(0);
    ProgressBar.setMaximum(count);
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
    Label1.setText(QString::fromUtf8(text));
    Label1.adjustSize();
}

void TSubForm::StepIt() {
    const int next = ProgressBar.value() + 1;
    // Past the maximum the bar starts again, as a stepped bar does.
    ProgressBar.setValue(next > ProgressBar.maximum() ? ProgressBar.minimum() : next);
}

void TSubForm::Close() {
    hide();
}

}  // namespace zembrat::app
