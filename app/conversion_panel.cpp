#include "app/conversion_panel.h"

#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace rv {

ConversionPanel::ConversionPanel(QWidget* owner) : QWidget(owner, Qt::Tool), buttons_(new QButtonGroup(this)) {
    setWindowTitle(tr("変換後"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 4, 4);
    layout->setSpacing(2);
    for (const WriterEntry& writer : writerTable()) {
        if (!writer.panelLabel)
            continue;
        auto* button = new QRadioButton(writer.panelLabel, this);
        buttons_->addButton(button, kPanelFirstButton + int(writer.target));
        layout->addWidget(button);
    }
    buttons_->button(kPanelFirstButton)->setChecked(true);
    connect(buttons_, &QButtonGroup::idClicked, this, [this](int id) {
        target_ = ConversionTarget(id - kPanelFirstButton);
        emit targetChanged(target_);
    });
    // 68 wide as the four-button panel was, 116 + 2 x 26 for glTF and OBJ.
    resize(68, 168);
}

void ConversionPanel::placeBeside(QWidget* owner) {
    const QRect frame = owner->frameGeometry();
    const QSize size = frameGeometry().size();
    const QPoint at = frame.topLeft() + offset_;
    // Inside the owner's frame whatever the offset; an owner smaller than the panel keeps its
    // top left corner.
    const int x = std::max(frame.left(), std::min(at.x(), frame.right() + 1 - size.width()));
    const int y = std::max(frame.top(), std::min(at.y(), frame.bottom() + 1 - size.height()));
    move(x, y);
}

void ConversionPanel::bringUp() {
    show();
    raise();
}

}  // namespace rv
