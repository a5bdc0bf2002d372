// A titled group of radio items laid out side by side, one item per column: the group is one
// tab stop (Tab lands on its selected item) and always has exactly one selected item.
#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QRadioButton;

namespace zenfo::ui {

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent);

    // The selected item, from 0.
    int ItemIndex() const;
    void SetItemIndex(int index);

    int Columns() const { return columns_; }
    const QList<QRadioButton*>& Items() const { return items_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ArrangeItems();
    void UpdateTabStop();

    int columns_;
    QList<QRadioButton*> items_;
};

}  // namespace zenfo::ui
