#include "ui/radio_group.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QRadioButton>

namespace zenfo::ui {

namespace {

// The platform's radio look with the narrow gap between mark and text that the column widths
// were laid out for.
class CompactRadioStyle : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        if (metric == PM_RadioButtonLabelSpacing) return 4;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// One style for every item, living as long as the application.
QStyle* RadioItemStyle() {
    static QPointer<QStyle> style;
    if (style.isNull()) {
        style = new CompactRadioStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style.data();
}

}  // namespace

RadioGroup::RadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), columns_(columns < 1 ? 1 : columns) {
    setFocusPolicy(Qt::NoFocus);
    for (const QString& text : items) {
        auto* item = new QRadioButton(text, this);
        item->setStyle(RadioItemStyle());
        item->setAutoExclusive(true);
        connect(item, &QRadioButton::toggled, this, [this](bool) { UpdateTabStop(); });
        items_.append(item);
    }
    ArrangeItems();
    UpdateTabStop();
}

int RadioGroup::ItemIndex() const {
    for (int i = 0; i < items_.size(); ++i) {
        if (items_[i]->isChecked()) return i;
    }
    return -1;
}

void RadioGroup::SetItemIndex(int index) {
    if (index >= 0 && index < items_.size()) items_[index]->setChecked(true);
}

// Only the selected item takes Tab focus, so the whole group is a single stop in the tab order;
// the arrow keys move between the items.
void RadioGroup::UpdateTabStop() {
    for (QRadioButton* item : items_) {
        item->setFocusPolicy(item->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

// The items share the width inside the frame in equal columns, in one row below the title.
void RadioGroup::ArrangeItems() {
    if (items_.isEmpty()) return;
    const int textHeight = QFontMetrics(font()).height();
    const int rows = static_cast<int>((items_.size() + columns_ - 1) / columns_);
    const int columnWidth = (width() - 10) / columns_;
    const int areaHeight = height() - textHeight - 5;
    const int rowHeight = areaHeight > 0 ? areaHeight / rows : 0;
    const int top = textHeight + 1 + (areaHeight > 0 ? (areaHeight % rows) / 2 : 0);
    for (int i = 0; i < items_.size(); ++i) {
        const int column = i / rows;
        const int row = i % rows;
        items_[i]->setGeometry(8 + column * columnWidth, top + row * rowHeight, columnWidth,
                               rowHeight);
    }
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    ArrangeItems();
}

// An etched frame whose top line runs through the middle of the title, the title in regular
// weight on the window's own background.
void RadioGroup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int frameTop = metrics.height() / 2;
    const QRect frame(0, frameTop, width() - 1, height() - frameTop - 1);
    const QColor dark = palette().color(QPalette::Window).darker(160);
    const QColor light = palette().color(QPalette::Window).lighter(160);
    painter.setPen(light);
    painter.drawRect(frame.translated(1, 1).adjusted(0, 0, -1, -1));
    painter.setPen(dark);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));

    if (title().isEmpty()) return;
    const int textWidth = metrics.horizontalAdvance(title());
    const QRect titleRect(8, 0, textWidth + 2, metrics.height());
    painter.fillRect(titleRect, palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(titleRect.adjusted(1, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
}

}  // namespace zenfo::ui
