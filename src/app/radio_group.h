// A titled group of radio buttons laid out in columns, with one selected item and a click
// notification that also fires when the program changes the item.
#pragma once

#include <QButtonGroup>
#include <QRadioButton>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/group_box.h"

namespace zembrat::app {

class TRadioGroup : public TGroupBox {
    Q_OBJECT

  public:
    TRadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const;
    void SetItemIndex(int index);
    QRadioButton& Button(int index) { return *buttons_.at(static_cast<std::size_t>(index)); }
    int Count() const { return static_cast<int>(buttons_.size()); }

  signals:
    // The selected item changed, by the user or by the program.
    void Click();

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ArrangeButtons();

    int columns_;
    QButtonGroup group_;
    std::vector<std::unique_ptr<QRadioButton>> buttons_;
};

}  // namespace zembrat::app
