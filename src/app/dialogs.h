// The dialogs, message boxes and beep of the windows, behind an interface that tests
// replace.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace zembrat::app {

class TDialogs {
  public:
    virtual ~TDialogs() = default;
    // The file-open dialog with several files at once: the chosen paths in the dialog's
    // order, nullopt when cancelled.
    virtual std::optional<QStringList> OpenFiles(QWidget* parent) = 0;
    // The folder dialog ("書き出しフォルダを選択してください"): the folder's full path,
    // nullopt when cancelled.
    virtual std::optional<QString> SelectFolder(QWidget* parent) = 0;
    // A plain modal message box: no icon, one OK button, the application title.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
    // The system's default beep.
    virtual void Beep() = 0;
};

// The real ones, with Qt widgets.
class TQtDialogs : public TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget* parent) override;
    std::optional<QString> SelectFolder(QWidget* parent) override;
    void ShowMessage(QWidget* parent, const QString& text) override;
    void Beep() override;
};

}  // namespace zembrat::app
